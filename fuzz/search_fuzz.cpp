// Result pages of any content through the walk of TSearchUser.

#include "FuzzCheck.h"
#include "extract/TSearchUser.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the limit (-8..119) and the page size (0..15).
    const int limit = static_cast<int>(data[0] % 128) - 8;
    const int pageSize = data[1] % 16;
    const std::string page(reinterpret_cast<const char*>(data + 2), size - 2);

    TSearchUser parser(limit, pageSize, "http://www.market.test/");
    parser.LoadFirstPage(page);
    FUZZ_CHECK(parser.Ready());
    FUZZ_CHECK(parser.PageSize() >= 1);
    FUZZ_CHECK(parser.Limit() == parser.TotalFound() ||
               (parser.Limit() > 0 && parser.Limit() <= parser.TotalFound()));
    int pageNo = parser.PageNo();
    for (int i = 0; i < 4 && !parser.Finished(); ++i) {
        parser.ProcessPage(page);
        FUZZ_CHECK(parser.Finished() ? parser.PageNo() == pageNo : parser.PageNo() == pageNo + 1);
        pageNo = parser.PageNo();
    }
    FUZZ_CHECK(static_cast<size_t>(parser.ShopCount()) == parser.Shops().size());
    FUZZ_CHECK(parser.ShopCount() == 0 || parser.ShopCount() <= parser.Limit());
    for (size_t i = 0; i < parser.Shops().size(); ++i) {
        FUZZ_CHECK(parser.Shops()[i].first == std::to_string(i + 1));
        FUZZ_CHECK(parser.Shops()[i].second.size() == 6);
    }
    return 0;
}
