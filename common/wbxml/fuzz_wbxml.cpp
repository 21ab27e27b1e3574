// libFuzzer target: the reader, the tree builder and the dump over arbitrary bytes.
// Each must end by itself, stay inside the input and keep its own invariants.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "common/wbxml/wbxml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CWBXML document;
    document.SetDocument(data, size);

    CWBXMLEvent event;
    size_t events = 0;
    for (;;) {
        bool more = document.NextEvent(event);
        if (event.EventKind == kWBXMLNoEvent) break;
        if (event.path.size() > CWBXMLEvent::kMaxPathLength) std::abort();
        if (event.pathMarks.size() != event.nameStack.size()) std::abort();
        // Each event but a pending end consumes at least one byte.
        if (++events > 2 * size + 2) std::abort();
        if (!more) break;
    }

    document.ResetReader();
    CWBXMLEvent treeEvent;
    CWBXMLLiterals tree;
    document.BuildTree(tree, treeEvent);

    std::ostringstream out;
    document.DumpDocument(out, data, size);
    static const std::string kCut = "---------------------- cut -----------------\n";
    const std::string text = out.str();
    if (text.size() < kCut.size() ||
        text.compare(text.size() - kCut.size(), kCut.size(), kCut) != 0)
        std::abort();
    return 0;
}
