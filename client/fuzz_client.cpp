// Fuzz target: what Skiff reads from the network and from its state files. The
// first byte picks the reader; the rest is its input.
//   0: the answer walk, with the three folders attached to a scratch PIM store
//   1: a snapshot record compared with a stored contact
//   2: HTTP answer framing and status line
//   3: value forms (dates, decimal numbers)
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "client/http_transport.h"
#include "client/sync_engine.h"
#include "client/value_forms.h"

namespace {

struct Scratch {
    Scratch() {
        auto dir =
            std::filesystem::temp_directory_path() / ("skiff-fuzz-" + std::to_string(::getpid()));
        setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        setenv("XDG_DOCUMENTS_DIR", (dir / "docs").c_str(), 1);
        app.Logon();
        auto item = app.GetDefaultFolder(olFolderContacts)->Items().Add();
        item->SetText("FirstName", "Ann");
        item->SetText("Body", "text");
        item->Save();
        contact = std::make_unique<SyncItem>(*TableForKind(kKindContacts),
                                             app.GetItemFromOid(item->Oid()));
    }
    PocketOutlookApplication app;
    std::unique_ptr<SyncItem> contact;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    if (size == 0) return 0;
    std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 4) {
        case 0: {
            SyncSession session;
            for (auto& f : SyncFolder::MakeRunFolders(GetDataFolder())) {
                if (f->Attach(scratch.app)) session.folders.push_back(std::move(f));
            }
            HandleAnswer(session, input);
            break;
        }
        case 1:
            scratch.contact->EqualsSnapshot(input);
            break;
        case 2: {
            size_t whole = 0;
            if (IsAnswerComplete(input.data(), input.size(), whole) && whole > input.size())
                abort();
            HttpStatusCode(input);
            break;
        }
        case 3: {
            double date = 0;
            ParseDate(input, date);
            ParseDecimal(input);
            break;
        }
    }
    return 0;
}
