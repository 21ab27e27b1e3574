// Test helpers of the console: one QApplication for the test program, a temporary
// home for the data folder and the MAPI profiles, scripted operator answers, and the
// fixture the window and pane tests share.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCoreApplication>
#include <QTreeWidget>
#include <QWidget>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/config/config_test_util.h"
#include "server/config/data_folder.h"
#include "server/config/settings.h"
#include "server/console/console_prompts.h"
#include "server/devices/device_records.h"
#include "server/mapi/mapi_initializer.h"
#include "server/mapi/mapi_status_calls.h"

inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "server_console_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// The control inside widget with the given object name (the name its help key
// begins with); throws when there is none, so a test cannot go on without it.
template <typename Control>
Control* ControlOf(const QWidget* widget, const char* name) {
    auto* control = widget->findChild<Control*>(QString::fromUtf8(name));
    if (control == nullptr) throw std::runtime_error(std::string("no control ") + name);
    return control;
}

// The text in column of row of the tree control name inside widget.
inline std::string CellText(const QWidget* widget, const char* name, int row, int column) {
    return ControlOf<QTreeWidget>(widget, name)->topLevelItem(row)->text(column).toStdString();
}

inline void DrainEvents() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Answers the panes' questions from queues; records what was asked.
struct ScriptedPrompts {
    std::deque<std::optional<std::string>> inputs;
    std::deque<bool> answers;
    std::vector<std::string> asked;
    std::vector<std::string> errors;

    CConsolePrompts Prompts() {
        CConsolePrompts prompts;
        prompts.input = [this](QWidget*, const std::string& field,
                               const std::string& value) -> std::optional<std::string> {
            asked.push_back(field + "=" + value);
            if (inputs.empty()) return std::nullopt;
            std::optional<std::string> answer = inputs.front();
            inputs.pop_front();
            return answer;
        };
        prompts.yesNo = [this](QWidget*, const std::string& question) {
            asked.push_back(question);
            if (answers.empty()) return false;
            bool answer = answers.front();
            answers.pop_front();
            return answer;
        };
        prompts.error = [this](QWidget*, const std::string& text) { errors.push_back(text); };
        return prompts;
    }
};

// A temporary home for a console test, made once the test application runs.
class ConsoleTestHome : public TempHome {
public:
    ConsoleTestHome() : TempHome((TestApp(), "corvel-console")) {}
};

// A console test's data folder (made) in its own home, and the store engine, device
// records and settings the window and the panes work on. The store's cache of opened
// stores is cleared before and after each test, so no test sees another's.
class ConsoleDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDataFolder(home_.DataFolder());
        ClearStoreCache();
    }
    void TearDown() override { ClearStoreCache(); }

    // The path of name in the data folder.
    std::string File(const std::string& name) const { return home_.DataFolder() + "/" + name; }

    ConsoleTestHome home_;
    CMapiInitializer storeEngine_;  // the users' log-ons; ends after devices_
    CDeviceRecords devices_;
    Settings settings_;
};
