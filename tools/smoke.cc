// A short tour of the foundation: the crash reporter, the log fallback, time
// values, number texts and the checksums, printed for a person to read.
#include <cstdio>
#include <string>

#include "log/log.h"
#include "log/system_log.h"
#include "tsdb/crc2x32.h"
#include "util/crash_reporter.h"
#include "util/format.h"
#include "util/time_value.h"

int main() {
    util::install_crash_reporter(logging::report_crash);
    logging::log("TSDB smoke run: no parent queue yet, so this line goes to the error output");

    const util::TimeValue now = util::TimeValue::now();
    std::printf("now:            %s (%s UTC)\n", now.text().c_str(),
                now.calendar_text(util::TimeValue::Zone::utc).c_str());
    const util::TimeValue span = util::TimeValue(5, 0) - util::TimeValue(4, 999999);
    std::printf("5 s - 4.999999: %s\n", span.text().c_str());
    std::printf("-2 s + 0.25 s:  %s\n", util::TimeValue(-2, 250000).text().c_str());
    std::printf("quoted:         %s\n", util::quote("tab\there \"quote\" \x01").c_str());

    const std::string check = "123456789";
    security::Crc32 crc;
    crc.reset();
    crc.update(check.data(), check.size());
    std::printf("CRC-32(%s): %08x\n", check.c_str(), crc.value());

    security::Crc2x32 pair;
    pair.reset();
    pair.update(check.data(), check.size());
    uint8_t digest[8];
    pair.write_digest(digest);
    std::printf("Crc2x32(%s): ", check.c_str());
    for (uint8_t byte : digest) {
        std::printf("%02x", byte);
    }
    std::printf("\n");
    return 0;
}
