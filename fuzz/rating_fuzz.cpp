// Rating pages of any content through the rating walk and credit summary of THTMLExcavate.

#include "FuzzCheck.h"
#include "extract/CreditLevel.h"
#include "extract/THTMLExcavate.h"
#include "text/TextOps.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the wanted range: ToRecord -40..215.
    const int toRecord = static_cast<int>(data[0]) - 40;
    const std::string page = text::foldAscii(std::string(reinterpret_cast<const char*>(data + 1), size - 1));

    THTMLExcavate e(1, toRecord, "http://rate.market.test");
    for (int i = 0; i < 3; ++i) {
        const int before = e.RatingCount();
        const int pageNo = e.PageNo();
        const bool finished = e.Finished();
        e.ProcessRatingPage(page);
        FUZZ_CHECK(e.FirstPageDone() && e.SummaryDone());
        if (finished || e.Finished())
            FUZZ_CHECK(e.RatingCount() == before && e.PageNo() == pageNo);
        else
            FUZZ_CHECK(e.PageNo() == pageNo + 1 && e.PageNo() - 1 <= e.LastPage());
    }
    FUZZ_CHECK(e.LastPage() >= 0);
    FUZZ_CHECK(toRecord > 0 || e.LastPage() == 0);
    FUZZ_CHECK(static_cast<size_t>(e.RatingCount()) == e.Ratings().size());
    for (size_t i = 0; i < e.Ratings().size(); ++i) {
        const auto& [key, record] = e.Ratings()[i];
        FUZZ_CHECK(key == std::to_string(i));
        FUZZ_CHECK(record.size() == 10 && record[6] == "True");
    }
    FUZZ_CHECK(e.saleLevel() == 0 || CreditLevel(e.salerCredit()) == e.saleLevel());
    FUZZ_CHECK(e.buyLevel() == 0 || CreditLevel(e.buyerCredit()) == e.buyLevel());
    FUZZ_CHECK(e.TotalRatings() >= 0);
    return 0;
}
