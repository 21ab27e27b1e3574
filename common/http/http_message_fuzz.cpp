// libFuzzer target: ParseMessage in both modes and the completeness test, whole
// and piece by piece, over arbitrary bytes. The incremental test must agree with
// the whole-buffer test after every piece.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/http/html_command.h"
#include "common/http/message_framing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    CHTMLCommand request;
    request.ParseMessage(true, text, size);
    if (request.BodyLength() > size) std::abort();
    if (request.Body()[request.BodyLength()] != 0) std::abort();
    (void)request.GetHeader("Content-Type");
    (void)request.GetParameter("Cmd");

    CHTMLCommand answer;
    answer.ParseMessage(false, text, size);
    if (answer.BodyLength() > size) std::abort();

    CMessageFraming framing;
    size_t step = size > 0 ? 1 + data[0] % 16 : 1;
    for (size_t count = 0; count <= size; count += step) {
        if (framing.Update(text, count) != IsMessageComplete(text, count)) std::abort();
    }
    return 0;
}
