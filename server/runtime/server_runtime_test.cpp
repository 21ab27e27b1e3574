// The server runtime: start-up in order, the ports it listens on, shutdown in
// reverse, and a data folder held by another server.
#include "server/runtime/server_runtime.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "server/config/config_test_util.h"
#include "server/http/http_test_util.h"
#include "server/mapi/mapi_initializer.h"
#include "server/mapi/mapi_ref.h"

namespace {

class ServerRuntimeTest : public ::testing::Test {
protected:
    ServerRuntimeOptions Options() {
        ServerRuntimeOptions options;
        options.dataFolder = folder_.Path();
        options.port = 0;
        options.httpsPort = 0;
        options.tracePort = 0;
        options.loopbackOnly = true;
        options.beforeServers = [this] { events_.push_back("before"); };
        options.afterServers = [this] { events_.push_back("after"); };
        return options;
    }

    TempFolder folder_;
    CDeviceRecords devices_;
    Settings settings_;
    CErrorLog errorLog_;
    CTraceTextSink clientTrace_{[](const std::string&) {}};
    TraceCapture trace_;
    std::vector<std::string> events_;
};

TEST_F(ServerRuntimeTest, ListensWhileItLivesAndStopsEverythingAtTheEnd) {
    int webPort = 0;
    int tracePort = 0;
    int httpsPort = 0;
    {
        ServerRuntime runtime(settings_, devices_, errorLog_, clientTrace_, Options());
        EXPECT_EQ(events_, std::vector<std::string>{"before"});
        webPort = runtime.WebPort();
        tracePort = runtime.TracePort();
        httpsPort = runtime.HttpsPort();
        ASSERT_GT(webPort, 0);
        ASSERT_GT(tracePort, 0);
        ASSERT_GT(httpsPort, 0);
        EXPECT_NE(webPort, tracePort);
        EXPECT_TRUE(ConnectLoopback(httpsPort).IsValid());
        EXPECT_TRUE(std::filesystem::exists(folder_.Path() + "/tls-certificate.pem"));
        EXPECT_TRUE(ConnectLoopback(webPort).IsValid());
        EXPECT_TRUE(ConnectLoopback(tracePort).IsValid());
        EXPECT_EQ(settings_.DataFolder(), folder_.Path());
        EXPECT_TRUE(std::filesystem::exists(folder_.Path() + "/settings.inf"));
        EXPECT_EQ(runtime.ErrorLogPath(), folder_.Path() + "/error.log");
        // The lock is held for the runtime's lifetime.
        CDataFolderLock tool;
        std::string error;
        EXPECT_FALSE(tool.TryAcquire(folder_.Path(), error));
    }
    EXPECT_EQ(events_, (std::vector<std::string>{"before", "after"}));
    EXPECT_FALSE(ConnectLoopback(webPort).IsValid());
    EXPECT_FALSE(ConnectLoopback(tracePort).IsValid());
    EXPECT_FALSE(ConnectLoopback(httpsPort).IsValid());
    CDataFolderLock tool;
    std::string error;
    EXPECT_TRUE(tool.TryAcquire(folder_.Path(), error)) << error;
}

TEST_F(ServerRuntimeTest, WithoutServersNothingListensAndNoHookRuns) {
    ServerRuntimeOptions options = Options();
    options.startServers = false;
    {
        ServerRuntime runtime(settings_, devices_, errorLog_, clientTrace_, options);
        EXPECT_EQ(runtime.WebPort(), 0);
        EXPECT_EQ(runtime.TracePort(), 0);
        EXPECT_TRUE(std::filesystem::exists(folder_.Path() + "/settings.inf"));
    }
    EXPECT_TRUE(events_.empty());
}

TEST_F(ServerRuntimeTest, AFolderHeldByAnotherServerEndsTheStartUpOnlyWhenTheLockIsRequired) {
    CDataFolderLock other;
    std::string error;
    ASSERT_TRUE(other.TryAcquire(folder_.Path(), error)) << error;

    ServerRuntimeOptions strict = Options();
    strict.requireFolderLock = true;
    try {
        ServerRuntime runtime(settings_, devices_, errorLog_, clientTrace_, strict);
        ADD_FAILURE() << "the start-up went on beside another server";
    } catch (const DataFolderInUse& inUse) {
        EXPECT_EQ(std::string(inUse.what()),
                  "the data folder " + folder_.Path() + " is in use by another corvel");
    }
    EXPECT_TRUE(events_.empty());

    {
        ServerRuntime runtime(settings_, devices_, errorLog_, clientTrace_, Options());
        EXPECT_GT(runtime.WebPort(), 0);
    }
    EXPECT_TRUE(
        trace_.HasLine("Data folder lock not taken: a running server holds " + folder_.Path()));
    EXPECT_EQ(events_, (std::vector<std::string>{"before", "after"}));
}

TEST_F(ServerRuntimeTest, StartsTheStoreEngineForTheUsersLogOnsAndEndsItAtTheEnd) {
    TempHome home("corvel-runtime-store");
    {
        CMapiInitializer engine;
        CMapiRef<IProfAdmin> admin;
        ASSERT_EQ(MAPIAdminProfiles(0, admin.Put()), S_OK);
        char name[] = "P1";
        ASSERT_EQ(admin->CreateProfile(name, nullptr, 0, MAPI_DEFAULT_SERVICES), S_OK);
    }
    WriteWholeFile(folder_.Path() + "/alice.dxt",
                   "Name=alice\nPasswort=pw\nDeviceID=\nProfileName=P1\n");
    ServerRuntimeOptions options = Options();
    options.startServers = false;
    {
        ServerRuntime runtime(settings_, devices_, errorLog_, clientTrace_, options);
        std::vector<std::shared_ptr<CPocketDevice>> records = devices_.List().Records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0]->lastLogonError, S_OK);
        EXPECT_TRUE(records[0]->session);
    }
    // Once the runtime has ended, the engine takes no new log-on.
    CMapiRef<IMAPISession> session;
    EXPECT_EQ(MAPILogonEx(0, const_cast<char*>("P1"), nullptr, MAPI_NEW_SESSION, session.Put()),
              MAPI_E_NOT_INITIALIZED);
}

}  // namespace
