// Shop pages of any content through the profile side of THTMLExcavate.

#include "FuzzCheck.h"
#include "extract/THTMLExcavate.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string host = "http://rate.market.test";
    const std::string page(reinterpret_cast<const char*>(data), size);
    THTMLExcavate e(1, 5000, host);
    e.LoadProfilePage(page);
    FUZZ_CHECK(e.Ready());
    FUZZ_CHECK(!e.Finished() && !e.SummaryDone());
    FUZZ_CHECK(e.ProfileText().size() == page.size());
    FUZZ_CHECK(e.RatingUrlBase().empty() || e.RatingUrlBase().rfind(host + "/user-rate-", 0) == 0);
    for (char c : e.RatingUrlBase())
        FUZZ_CHECK(!(c >= 'A' && c <= 'Z') || e.RatingUrlBase().find("--buyerOrSeller") != std::string::npos);
    FUZZ_CHECK(e.PageNo() == 1 && e.RatingCount() == 0);
    return 0;
}
