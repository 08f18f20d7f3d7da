// SPDX-License-Identifier: MIT
// Each exported PIN call writes its texts into a caller buffer of exactly
// the documented size, followed by an inaccessible page.
#include "pin_fixture.h"

namespace pintest {
namespace {

using Buffers = PinTest;

TEST_F(Buffers, ExactSizeOutputs) {
    struct Row {
        const char *what;
        std::initializer_list<const char *> typed;
        std::function<long(char *)> call;
        long rc;
    };
    const auto info = [] { return std::string(kCardInfo); };
    const Row rows[] = {
        {"verify", {"123456"}, [](char *o) { return iVerifyPIN(1, o); }, 0},
        {"verify refused", {"111111"}, [](char *o) { return iVerifyPIN(1, o); }, -51},
        {"change", {"123456", "654321", "654321"}, [](char *o) { return iChangePIN(1, o); }, 0},
        {"change refused", {"111111", "123456", "123456"}, [](char *o) { return iChangePIN(1, o); }, -51},
        {"reload", {"123456", "123456"}, [&](char *o) { std::string i = info(); return iReloadPIN(1, &i[0], o); }, 0},
        {"reload timed out", {"timeout"}, [&](char *o) { std::string i = info(); return iReloadPIN(1, &i[0], o); }, -32},
        {"unblock", {}, [&](char *o) { std::string i = info(); return iUnblockPIN(1, &i[0], o); }, 0},
        {"unblock of another card", {}, [](char *o) { std::string i = "00|00|"; return iUnblockPIN(1, &i[0], o); }, -22},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        type(row.typed);
        GuardedBuffer buffer(KESTREL_PIN_OUT_SIZE);
        EXPECT_EQ(row.call(buffer.text()), row.rc);
        EXPECT_LT(buffer.str().size(), buffer.size());
    }
}

}  // namespace
}  // namespace pintest
