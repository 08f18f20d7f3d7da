// SPDX-License-Identifier: MIT
// Each debit call writes its texts into a caller buffer of exactly the
// documented size, followed by an inaccessible page.
#include "debit_fixture.h"

namespace debittest {
namespace {

using Buffers = DebitTest;

TEST_F(Buffers, ExactSizeOutputs) {
    struct Row {
        const char *what;
        std::initializer_list<const char *> typed;
        size_t size;
        std::function<long(char *)> call;
        long rc;
    };
    const auto debitInto = [](const char *pay) {
        return [pay](char *o) {
            std::string info = pintest::kCardInfo, p = pay;
            return iDoDebit(1, &info[0], &p[0], o);
        };
    };
    const Row rows[] = {
        {"debit", {"123456"}, KESTREL_DEBIT_OUT_SIZE, debitInto(kPayInfo), 0},
        {"debit, PIN refused", {"111111"}, KESTREL_DEBIT_OUT_SIZE, debitInto(kPayInfo), -51},
        {"debit, bad pay info", {}, KESTREL_DEBIT_OUT_SIZE, debitInto("1|2|3|"), -14},
        {"records", {"123456"}, KESTREL_DEBIT_RECORDS_SIZE, [](char *o) { return iReadDebitRecord(1, o); }, 0},
        {"PIN trial refused", {}, KESTREL_TRY_PIN_OUT_SIZE,
         [](char *o) {
             char pin[] = "111111";
             return iTryPIN(1, pin, o);
         },
         -51},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        type(row.typed);
        GuardedBuffer buffer(row.size);
        EXPECT_EQ(row.call(buffer.text()), row.rc);
        EXPECT_LT(buffer.str().size(), buffer.size());
    }
}

}  // namespace
}  // namespace debittest
