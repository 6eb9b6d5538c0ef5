#include <atomic>

#include "testbed/testcard/filters.h"
#include "testbed/testcard/portable/device_config.h"

namespace testcard {
namespace {
std::atomic<int64_t> g_flash_period{60 * kInterval5994};
}  // namespace

void PublishFlashPeriod(int64_t period) {
  if (period > 0) g_flash_period = period;
}

int64_t FlashPeriod() { return g_flash_period; }

}  // namespace testcard
