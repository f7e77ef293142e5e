#include "platform/decoder/imaging/frames.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace scanimage {

namespace {

struct Still {
    GrayImage image;
};

Frame stillCurrent(void* state, uint32_t) {
    return Frame{&static_cast<Still*>(state)->image, 1};
}

void stillClose(void* state) {
    delete static_cast<Still*>(state);
}

struct Folder {
    std::vector<std::string> files;
    int framesPerSecond = 10;
    bool started = false;
    uint32_t start = 0;
    size_t loaded = SIZE_MAX;  // index of the frame in `image`
    bool readable = false;
    GrayImage image;
};

Frame folderCurrent(void* state, uint32_t nowMs) {
    auto* f = static_cast<Folder*>(state);
    if (!f->started) {
        f->started = true;
        f->start = nowMs;
    }
    uint64_t elapsed = static_cast<uint32_t>(nowMs - f->start);
    size_t index = static_cast<size_t>(std::min<uint64_t>(elapsed * f->framesPerSecond / 1000, f->files.size() - 1));
    if (index != f->loaded) {
        f->loaded = index;
        f->readable = loadImage(f->files[index], f->image) == LoadStatus::Ok;
    }
    return Frame{f->readable ? &f->image : nullptr, static_cast<uint32_t>(index + 1)};
}

void folderClose(void* state) {
    delete static_cast<Folder*>(state);
}

bool imageName(const std::filesystem::path& p) {
    std::string ext = p.extension().string();
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext == ".png" || ext == ".jpg" || ext == ".jpeg";
}

}  // namespace

bool openStillImage(FrameSource& source, const std::string& path, LoadStatus* status) {
    closeFrameSource(source);
    auto* still = new Still;
    LoadStatus s = loadImage(path, still->image);
    if (status != nullptr) *status = s;
    if (s != LoadStatus::Ok) {
        delete still;
        return false;
    }
    source.state = still;
    source.current = stillCurrent;
    source.close = stillClose;
    return true;
}

bool openFrameFolder(FrameSource& source, const std::string& folder, int framesPerSecond) {
    closeFrameSource(source);
    std::error_code ec;
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.is_regular_file(ec) && imageName(entry.path())) files.push_back(entry.path().string());
    }
    if (ec || files.empty()) return false;
    std::sort(files.begin(), files.end());
    if (files.size() > static_cast<size_t>(kMaxFrames)) files.resize(kMaxFrames);
    auto* f = new Folder;
    f->files = std::move(files);
    f->framesPerSecond = std::clamp(framesPerSecond, 1, 1000);
    source.state = f;
    source.current = folderCurrent;
    source.close = folderClose;
    return true;
}

void closeFrameSource(FrameSource& source) {
    if (source.close != nullptr) source.close(source.state);
    source = FrameSource{};
}

}  // namespace scanimage
