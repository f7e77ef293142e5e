// The console's images: labels rendered (and degraded like a photo) for the
// scan engine, and images or folders of frames put in its view.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <ostream>

#include "console.h"
#include "platform/decoder/imaging/frames.h"
#include "platform/decoder/imaging/label.h"
#include "platform/host/terminal.h"

namespace console {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDevicePrefix = "device:";

bool parseReal(const std::string& text, double low, double high, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == 0 && std::isfinite(value) && value >= low && value <= high;
}

bool parsePair(const std::string& text, char separator, int low, int high, int& a, int& b) {
    size_t at = text.find(separator);
    if (at == std::string::npos) return false;
    long long x = 0, y = 0;
    if (!parseInt(text.substr(0, at), x) || !parseInt(text.substr(at + 1), y)) return false;
    if (x < low || x > high || y < low || y > high) return false;
    a = static_cast<int>(x);
    b = static_cast<int>(y);
    return true;
}

int fail(const std::string& command, std::ostream& err, const std::string& problem) {
    err << "keyvane-terminal " << command << ": " << problem << "\n";
    return kUsage;
}

}  // namespace

std::string imagePath(const std::string& given) {
    if (given.compare(0, std::string(kDevicePrefix).size(), kDevicePrefix) == 0) {
        std::string device = given.substr(std::string(kDevicePrefix).size());
        for (char& c : device)
            if (c == '/') c = '\\';
        return terminal::hostPath(utf16(device));
    }
    std::error_code ec;
    return fs::absolute(given, ec).lexically_normal().string();
}

int takeImageOptions(const std::string& command, const Args& args, Args& rest, bool& placed, std::ostream& err) {
    terminal::ImageSource source;
    placed = false;
    bool fpsGiven = false;
    rest.clear();
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool more = i + 1 < args.size();
        if (a == "--image" || a == "--frames") {
            if (!more || args[i + 1].empty()) return fail(command, err, a + " needs a file or folder");
            if (!source.path.empty()) return fail(command, err, "one image or folder at a time");
            source.path = imagePath(args[++i]);
            source.frames = a == "--frames";
        } else if (a == "--fps") {
            long long n = 0;
            if (!more || !parseInt(args[i + 1], n) || n < 1 || n > 1000) return fail(command, err, "--fps needs 1..1000");
            source.framesPerSecond = static_cast<int>(n);
            fpsGiven = true;
            ++i;
        } else {
            rest.push_back(a);
        }
    }
    if (source.path.empty()) {
        if (fpsGiven) return fail(command, err, "--fps goes with --frames");
        return kOk;
    }
    // What the engine could not read is refused here, with the reason.
    if (source.frames) {
        scanimage::FrameSource frames;
        if (!scanimage::openFrameFolder(frames, source.path, source.framesPerSecond)) {
            err << command << ": no PNG or JPEG images in " << source.path << "\n";
            return kFailed;
        }
        scanimage::closeFrameSource(frames);
    } else {
        scanimage::GrayImage image;
        scanimage::LoadStatus status = scanimage::loadImage(source.path, image);
        if (status != scanimage::LoadStatus::Ok) {
            err << command << ": " << source.path << ": " << scanimage::loadStatusText(status) << "\n";
            return kFailed;
        }
    }
    if (!terminal::putImageInView(source)) {
        err << command << ": the path is too long for the engine: " << source.path << "\n";
        return kFailed;
    }
    placed = true;
    return kOk;
}

int labelCommand(const Options& options, const Args& args, std::ostream& out, std::ostream& err) {
    const char* me = "label";
    std::string data, out_path, onto;
    bool haveData = false;
    const scanimage::FormatInfo* format = nullptr;
    scanimage::LabelStyle style;
    double rotate = 0, blur = 0, noise = 0, scale = 1;
    long long seed = 1;
    int canvasWidth = 0, canvasHeight = 0, atX = -1, atY = -1;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool more = i + 1 < args.size();
        const std::string next = more ? args[i + 1] : std::string();
        long long n = 0;
        if (a == "--sym") {
            if (!more || (format = scanimage::formatByName(next)) == nullptr) {
                std::string names;
                int count = 0;
                const scanimage::FormatInfo* all = scanimage::formats(count);
                for (int f = 0; f < count; ++f)
                    if (all[f].writable) names += std::string(names.empty() ? "" : ", ") + all[f].name;
                return fail(me, err, "--sym needs one of " + names);
            }
        } else if (a == "--out" || a == "--onto") {
            if (!more || next.empty()) return fail(me, err, a + " needs a file");
            (a == "--out" ? out_path : onto) = imagePath(next);
        } else if (a == "--rotate") {
            if (!more || !parseReal(next, -360, 360, rotate)) return fail(me, err, "--rotate needs degrees -360..360");
        } else if (a == "--blur") {
            if (!more || !parseReal(next, 0, 20, blur)) return fail(me, err, "--blur needs a radius 0..20");
        } else if (a == "--noise") {
            if (!more || !parseReal(next, 0, 128, noise)) return fail(me, err, "--noise needs 0..128 grey levels");
        } else if (a == "--scale") {
            if (!more || !parseReal(next, 0.05, 20, scale)) return fail(me, err, "--scale needs 0.05..20");
        } else if (a == "--seed") {
            if (!more || !parseInt(next, seed) || seed < 0 || seed > UINT32_MAX) return fail(me, err, "--seed needs a number");
        } else if (a == "--module" || a == "--height") {
            if (!more || !parseInt(next, n) || n < 1 || n > 1000) return fail(me, err, a + " needs 1..1000 pixels");
            (a == "--module" ? style.moduleSize : style.barHeight) = static_cast<int>(n);
        } else if (a == "--canvas") {
            if (!more || !parsePair(next, 'x', 1, scanimage::kMaxSide, canvasWidth, canvasHeight))
                return fail(me, err, "--canvas needs WIDTHxHEIGHT");
        } else if (a == "--at") {
            if (!more || !parsePair(next, ',', 0, scanimage::kMaxSide, atX, atY)) return fail(me, err, "--at needs X,Y");
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return fail(me, err, "unknown option " + a);
        } else if (!haveData) {
            data = a;
            haveData = true;
            continue;
        } else {
            return fail(me, err, "one label at a time (quote data with blanks)");
        }
        ++i;
    }
    if (!haveData || data.empty()) return fail(me, err, "the label's data is missing");
    if (format == nullptr) return fail(me, err, "--sym is missing");
    if (out_path.empty()) return fail(me, err, "--out is missing");

    scanimage::GrayImage label;
    std::string error;
    if (!scanimage::renderLabel(*format, data, style, label, error)) {
        err << me << ": " << format->name << " cannot hold this data: " << error << "\n";
        return kFailed;
    }
    if (scale != 1) label = scanimage::scaled(label, scale);
    if (rotate != 0) label = scanimage::rotated(label, rotate);
    if (blur > 0) label = scanimage::blurred(label, blur);

    scanimage::GrayImage picture;
    if (!onto.empty()) {
        scanimage::LoadStatus status = scanimage::loadImage(onto, picture);
        if (status != scanimage::LoadStatus::Ok) {
            err << me << ": " << onto << ": " << scanimage::loadStatusText(status) << "\n";
            return kFailed;
        }
    } else if (canvasWidth > 0) {
        picture = scanimage::canvas(canvasWidth, canvasHeight);
    }
    if (picture.width > 0) {
        // Centred unless placed.
        int x = atX >= 0 ? atX : (picture.width - label.width) / 2;
        int y = atY >= 0 ? atY : (picture.height - label.height) / 2;
        scanimage::place(picture, label, x, y);
    } else {
        picture = std::move(label);
    }
    scanimage::addNoise(picture, noise, static_cast<uint32_t>(seed));

    std::error_code ec;
    fs::create_directories(fs::path(out_path).parent_path(), ec);
    if (!scanimage::saveImage(out_path, picture)) {
        err << me << ": cannot write " << out_path << "\n";
        return kFailed;
    }
    printRecords(options,
                 {{{"label", out_path},
                   {"format", format->name},
                   {"size", std::to_string(picture.width) + "x" + std::to_string(picture.height)}}},
                 out);
    return kOk;
}

}  // namespace console
