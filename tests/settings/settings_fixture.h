// A fresh terminal root per test with the stand-in decoder, the trace log
// folder and default settings; helpers to write Keyvane.ini and load it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/host/terminal.h"
#include "platform/platform.h"
#include "scan/decoder.h"
#include "scan/engine.h"
#include "settings/cardreader.h"
#include "settings/keytable.h"
#include "settings/rules.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"
#include "settings/settingsline.h"
#include "settings/settingstable.h"
#include "shell/app.h"
#include "shell/state.h"
#include "shell/window.h"
#include "tests/support/wedge_process.h"

// The codes of a zero-ended code list.
inline std::vector<int> codes(const WORD* list, int slots) {
    std::vector<int> out;
    for (int i = 0; i < slots && list[i] != 0; ++i) out.push_back(list[i]);
    return out;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        wedge::RootOptions options;
        options.writeSettings = false;
        root = wedge::makeTerminalRoot(options);
        ASSERT_FALSE(root.empty());
        terminal::reset();
        loadDecoderLibrary();
        resetProcessState();
        deviceModel = kFallbackDeviceModel;
    }
    void TearDown() override {
        if (allKeysCaptured.load()) allKeysCapture(FALSE);
        stopCardReader();
        decoderDisconnect();
        engineConnected = 0;
        wedge::removeTerminalRoot(root);
    }

    std::string hostFile(const std::string& relative) const { return root + "/" + relative; }

    void writeFile(const std::string& relative, const std::string& bytes) const {
        std::filesystem::create_directories(std::filesystem::path(hostFile(relative)).parent_path());
        std::ofstream out(hostFile(relative), std::ios::binary);
        out << bytes;
    }
    void writeIni(const std::string& bytes) const { writeFile("Zentrova/Keyvane.ini", bytes); }

    // Writes Keyvane.ini and loads it.
    BOOL load(const std::string& bytes) {
        writeIni(bytes);
        return loadSettings();
    }
    std::string trace() const { return wedge::traceText(root); }
    bool traceHas(const std::string& text) const { return trace().find(text) != std::string::npos; }

    std::vector<terminal::MessageBoxRecord> boxes() const { return terminal::messageBoxes(); }
    int boxesWithText(const std::u16string& text) const {
        int n = 0;
        for (const auto& box : boxes()) n += box.text == text ? 1 : 0;
        return n;
    }

    std::string root;
};
