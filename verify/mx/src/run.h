// Starting, stopping and waiting for a worker run; the exported MXVerify*
// functions are thin wrappers over these.
#pragma once

#include <cstdint>

#include "resolver.h"
#include "tarnmxvrfy.h"

namespace tarn::mx {

bool startRun(MXVerifyParam* param, const ResolverOptions& options);
bool stopRun(MXVerifyParam* param);
bool waitRun(MXVerifyParam* param);
// Counters under the lock; true while the worker runs.
bool runCounts(MXVerifyParam* param, std::int32_t* okCount, std::int32_t* ngCount);
// Answers the run discarded because their ID named none of its items, once the
// worker has ended and until waitRun; -1 otherwise.
std::int32_t foreignAnswers(const MXVerifyParam* param);

// The options MXVerify uses: port 53 unless TARN_DNS_PORT names another.
ResolverOptions defaultOptions();

}  // namespace tarn::mx
