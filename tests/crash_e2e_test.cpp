// A corvel killed (SIGKILL) in the middle of a large request: the store holds all of
// that request or none of it, corvel starts again over it, and the handheld's next
// sync completes the request without doubling any item on either side.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/pocketoutlook/pocket_outlook.h"
#include "server/config/config_test_util.h"
#include "tests/test_process.h"

namespace {

constexpr int kContacts = 2000;

std::string Numbered(const char* format, int n) {
    char text[64];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

class CrashEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = temp_.Path();
        ASSERT_FALSE(home_.empty());
        ChildProcess add(ProgramPath("corvel"),
                         {"user", "add", "alice", "--password", "Secret", "--auto"}, Env());
        ASSERT_EQ(add.Wait(), 0) << add.Out();
        SeedHandheld();
    }

    std::vector<std::string> Env() const { return DataHomeEnvironment(home_, {"TZ=UTC"}); }

    // The handheld's contacts, written straight into its PIM store.
    void SeedHandheld() {
        ::setenv("XDG_DATA_HOME", home_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home_ + "/config").c_str(), 1);
        ::setenv("HOME", home_.c_str(), 1);
        PocketOutlookApplication app;
        ASSERT_TRUE(app.Logon()) << app.error();
        PimItems contacts = app.GetDefaultFolder(10)->Items();
        for (int i = 0; i < kContacts; ++i) {
            auto item = contacts.Add();
            item->SetText("FileAs", Numbered("Crash%05d, Vera", i));
            item->SetText("FirstName", "Vera");
            item->SetText("LastName", Numbered("Crash%05d", i));
            item->SetText("CompanyName", Numbered("Firma %d", i % 97));
            item->Save();
        }
    }

    std::unique_ptr<ChildProcess> StartCorvel() {
        auto corvel = std::make_unique<ChildProcess>(
            ProgramPath("corvel"),
            std::vector<std::string>{"--headless", "--port", "0", "--https-port", "0",
                                     "--trace-port", "0"},
            Env());
        int port = corvel->ListeningPort();
        EXPECT_NE(port, 0) << corvel->Out();
        ChildProcess config(ProgramPath("skiff"),
                            {"config", "--server", "127.0.0.1:" + std::to_string(port), "--user",
                             "alice", "--password", "Secret"},
                            Env());
        EXPECT_EQ(config.Wait(), 0) << config.Out();
        return corvel;
    }

    std::string Run(const std::string& program, std::vector<std::string> args, int& status) {
        ChildProcess child(ProgramPath(program), std::move(args), Env());
        status = child.Wait();
        return child.Out();
    }

    // The surnames of the desktop's contacts, one entry per item.
    std::multiset<std::string> DesktopNames() {
        int status = 0;
        std::string items = Run("corvel-store", {"items", "Contacts"}, status);
        EXPECT_EQ(status, 0) << items;
        return Names(items);
    }
    std::multiset<std::string> HandheldNames() {
        int status = 0;
        std::string items = Run("skiff", {"pim", "list", "contacts"}, status);
        EXPECT_EQ(status, 0) << items;
        return Names(items);
    }
    static std::multiset<std::string> Names(const std::string& listing) {
        std::multiset<std::string> names;
        std::istringstream lines(listing);
        std::string line;
        const std::regex name("Crash[0-9]{5}, Vera");
        while (std::getline(lines, line)) {
            std::smatch match;
            if (std::regex_search(line, match, name)) names.insert(match[0].str());
        }
        return names;
    }
    static size_t Distinct(const std::multiset<std::string>& names) {
        return std::set<std::string>(names.begin(), names.end()).size();
    }

    TempFolder temp_;
    std::string home_;
};

TEST_F(CrashEndToEnd, KilledInTheMiddleOfALargeRequestThenTheNextSyncCompletesIt) {
    std::unique_ptr<ChildProcess> corvel = StartCorvel();
    ASSERT_TRUE(corvel);
    // The first sync sends every contact in one request; corvel traces a line for
    // each item it stores, so it is killed a few hundred items into the request.
    auto sync = std::make_unique<ChildProcess>(ProgramPath("skiff"),
                                               std::vector<std::string>{"sync"}, Env());
    std::string seen = corvel->WaitForOutput("POST vantro\n(?:.*\n){300}");
    ASSERT_FALSE(seen.empty()) << corvel->Out().substr(0, 4000);
    EXPECT_EQ(corvel->Stop(SIGKILL), 1000 + SIGKILL);
    int syncStatus = sync->Wait();
    EXPECT_NE(syncStatus, 0) << "the sync ended well although corvel was killed";

    // All of the request or none of it.
    std::multiset<std::string> afterKill = DesktopNames();
    EXPECT_TRUE(afterKill.empty() || afterKill.size() == static_cast<size_t>(kContacts))
        << afterKill.size() << " of " << kContacts << " contacts stored";
    EXPECT_EQ(Distinct(afterKill), afterKill.size());

    // corvel starts over the store it left, and the handheld's next sync completes.
    corvel = StartCorvel();
    int status = 0;
    std::string out = Run("skiff", {"sync"}, status);
    ASSERT_EQ(status, 0) << out.substr(out.size() > 3000 ? out.size() - 3000 : 0);
    std::multiset<std::string> desktop = DesktopNames();
    EXPECT_EQ(desktop.size(), static_cast<size_t>(kContacts));
    EXPECT_EQ(Distinct(desktop), static_cast<size_t>(kContacts));
    std::multiset<std::string> handheld = HandheldNames();
    EXPECT_EQ(handheld.size(), static_cast<size_t>(kContacts));
    EXPECT_EQ(Distinct(handheld), static_cast<size_t>(kContacts));

    // Nothing is left over for a further sync.
    out = Run("skiff", {"sync"}, status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(DesktopNames().size(), static_cast<size_t>(kContacts));
    EXPECT_EQ(HandheldNames().size(), static_cast<size_t>(kContacts));
}

}  // namespace
