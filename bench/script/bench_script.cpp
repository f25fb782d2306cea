// Cost of personalising one message: the mail script run for one recipient,
// then the merge of subject and body. The script is compiled once, as a send
// does, and run for N recipients.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/cp932.h"
#include "contents/merge.h"
#include "contents/script.h"

namespace {

using namespace tarn::contents;
using Clock = std::chrono::steady_clock;

// 40 lines: greeting by honorific, a loop, formatted amounts, merge tags.
constexpr const char* kScript =
    "#' personalised invoice notice\r\n"
    "#If &[敬称] = \"御中\" Then\r\n"
    "&[会社名] 御中\r\n"
    "#Else\r\n"
    "&[会社名]\r\n"
    "&[部署名] &[役職]\r\n"
    "&[名前] &[敬称]\r\n"
    "#End If\r\n"
    "\r\n"
    "拝啓 時下ますますご清栄のこととお慶び申し上げます。\r\n"
    "平素は格別のお引き立てを賜り、厚く御礼申し上げます。\r\n"
    "\r\n"
    "#total = 0\r\n"
    "#i = 1\r\n"
    "#Do While i <= 5\r\n"
    "#total = total + i * 120\r\n"
    "#i = i + 1\r\n"
    "#Loop\r\n"
    "#price = Format(total, \"#,##0\")\r\n"
    "#If &[Freefield1] <> \"\" Then\r\n"
    "会員番号: &[Freefield1]\r\n"
    "#Else\r\n"
    "会員番号: 未登録\r\n"
    "#End If\r\n"
    "ご請求額: &[price] 円\r\n"
    "#Print \"発行日: \"; Yar; \"年\"; Month; \"月\"; Day; \"日\"\r\n"
    "\r\n"
    "#If Val(&[Freefield2]) >= 100 Then\r\n"
    "ゴールド会員特典のご案内を同封いたしました。\r\n"
    "#End If\r\n"
    "ご不明な点は &[Freefield3] までお問い合わせください。\r\n"
    "\r\n"
    "今後ともよろしくお願い申し上げます。\r\n"
    "敬具\r\n"
    "\r\n"
    "------------------------------------\r\n"
    "株式会社サンプル 営業部\r\n"
    "TEL 03-0000-0000\r\n"
    "mail info@example.co.jp\r\n"
    "------------------------------------\r\n";

std::string sjis(const char* utf8) {
    auto r = tarn::cp932::fromUtf8(utf8);
    if (!r) {
        std::fprintf(stderr, "bench_script: %s\n", r.error().message.c_str());
        std::exit(1);
    }
    return *r;
}

// A spread of recipients: both honorific branches, with and without free fields.
std::vector<MergeValues> recipients(std::size_t n) {
    const std::string company = sjis("株式会社みどり商事");
    const std::string dept = sjis("営業部");
    const std::string title = sjis("課長");
    const std::string name = sjis("鈴木 一郎");
    const std::string sama = sjis("様");
    const std::string onchu = sjis("御中");
    std::vector<MergeValues> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        MergeValues& v = out[i];
        v[0] = company + std::to_string(i);
        v[1] = dept;
        v[2] = title;
        v[3] = name;
        v[4] = i % 4 == 0 ? onchu : sama;
        v[5] = i % 3 == 0 ? std::string() : "M" + std::to_string(100000 + i);
        v[6] = std::to_string(i % 200);
        v[7] = "support@example.co.jp";
    }
    return out;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    const long n = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
    if (n <= 0) {
        std::fprintf(stderr, "usage: bench_script [RECIPIENTS]\n");
        return 2;
    }
    const std::string script = sjis(kScript);
    const std::string subject = sjis("&[会社名] &[名前]&[敬称] ご請求のお知らせ");
    const auto people = recipients(1000);

    ScriptEngine engine;
    const auto compileStart = Clock::now();
    if (engine.LoadScript(script) != 1) {
        std::fprintf(stderr, "bench_script: the script does not compile\n");
        return 1;
    }
    const double compileUs = seconds(Clock::now() - compileStart) * 1e6;

    std::string output;
    MergeRequest request;
    request.subjectTemplate = subject;
    std::size_t bytes = 0;
    Clock::duration scriptTime{};
    Clock::duration mergeTime{};
    for (long i = 0; i < n; ++i) {
        const MergeValues& values = people[static_cast<std::size_t>(i) % people.size()];
        const auto t0 = Clock::now();
        if (engine.RunScript(output, makeMergeVariables(values)) != 1) {
            std::fprintf(stderr, "bench_script: the script failed\n");
            return 1;
        }
        const auto t1 = Clock::now();
        request.bodyTemplate = output;
        request.values = values;
        ApplyMergeFields(request);
        const auto t2 = Clock::now();
        scriptTime += t1 - t0;
        mergeTime += t2 - t1;
        bytes += request.body.size();
    }
    const double total = seconds(scriptTime + mergeTime);
    std::printf("script: 40-line script, compiled once in %.1f us\n", compileUs);
    std::printf("recipients: %ld, average merged body %zu bytes\n", n,
                bytes / static_cast<std::size_t>(n));
    std::printf("script run:        %.2f us per recipient\n", seconds(scriptTime) * 1e6 / n);
    std::printf("merge:             %.2f us per recipient\n", seconds(mergeTime) * 1e6 / n);
    std::printf("script + merge:    %.2f us per recipient, %.0f recipients per second\n",
                total * 1e6 / n, n / total);
    return 0;
}
