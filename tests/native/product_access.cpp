#include "product_access.h"

#include <string.h>

#include <memory>

namespace product {

int enum_adapters(std::vector<adapter_info> *out, bool texts)
{
    std::unique_ptr<adapter_info[]> table(new adapter_info[MAX_ADAPTERS]);
    memset(table.get(), 0xA5, sizeof(adapter_info) * MAX_ADAPTERS);
    int n = ::enum_adapters(table.get(), texts);
    out->assign(table.get(), table.get() + (n > 0 ? n : 0));
    return n;
}

const char *format_report(const adapter_info *table, int n)
{
    std::unique_ptr<adapter_info[]> copy(new adapter_info[n > 0 ? n : 0]);
    if (n > 0)
        memcpy(copy.get(), table, sizeof(adapter_info) * (size_t)n);
    return ::format_report(copy.get(), n);
}

} // namespace product
