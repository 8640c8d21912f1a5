#include "tools/im_exp.h"

#include <limits>

namespace qv {

namespace {

static_assert(std::numeric_limits<long double>::digits >= 64,
              "the table needs a wider type than double to find each entry's correction");

ExpTable makeExpTable() {
    ExpTable t{};
    for (int i = 0; i < 128; ++i) {
        const long double exact = std::exp2(static_cast<long double>(i) / 128.0L);
        t.scale[i] = static_cast<double>(exact);
        t.tail[i] = static_cast<double>((exact - t.scale[i]) / t.scale[i]);
    }
    return t;
}

}  // namespace

const ExpTable& expTable() {
    static const ExpTable table = makeExpTable();
    return table;
}

}  // namespace qv
