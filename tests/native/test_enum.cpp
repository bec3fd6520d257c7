#include "checks.h"
#include "fake_system.h"
#include "json_check.h"
#include "product_access.h"
#include "test_util.h"

#include "gpuinfo.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

using product::record;

fake::adapter make_adapter(const std::u16string &description, UINT vendor_id = 0x10DE)
{
    fake::adapter a;
    a.description = description;
    a.vendor_id = vendor_id;
    a.device_id = 0x2684;
    a.dedicated_video_memory = 8ull << 30;
    a.shared_memory_mb_unused_guard_ = 0;
    return a;
}

} // namespace
