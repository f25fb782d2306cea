// LoadScript and RunScript meet whatever an operator types.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "contents/script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarn::contents;
    const std::string_view script(reinterpret_cast<const char*>(data), size);
    ScriptEngine engine;
    // Small limits keep every input fast; they are limits like any other.
    engine.setStepLimit(20'000);
    engine.setOutputLimit(1 << 16);
    engine.setClock([] { return std::tm{}; });
    engine.LoadScript(script);
    MergeValues values;
    values[0] = "ACME";
    values[4] = "\x97\x6c";  // 様
    std::string out;
    const int result = engine.RunScript(out, makeMergeVariables(values));
    // A reported error always means failure, and the output stays within its limit.
    if ((result != 0 && result != 1) || (result == 1 && engine.lastError()) ||
        out.size() > (1 << 16)) {
        __builtin_trap();
    }
    return 0;
}
