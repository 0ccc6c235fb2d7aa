// Writes the sample pages of the tests into DIR/search, DIR/profile and DIR/rating, as seed
// corpora for the fuzz targets (with their leading option bytes).

#include "extract/SamplePages.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

void put(const std::filesystem::path& file, const std::string& bytes)
{
    std::ofstream(file, std::ios::binary) << bytes;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    for (const char* sub : {"search", "profile", "rating"})
        std::filesystem::create_directories(dir / sub);

    sample::ResultPage result;
    result.shops = sample::shops(6);
    result.shops[1].bseller = true;
    result.shops[2].nameHref = false;
    result.shops[4].sellerPart = false;
    put(dir / "search" / "page", std::string("\x0C\x28", 2) + sample::resultPage(result));
    result.categoryCrumb = false;
    result.total = "3";
    put(dir / "search" / "short", std::string("\x08\x02", 2) + sample::resultPage(result));

    sample::ShopPage shop;
    put(dir / "profile" / "form-a", sample::shopPage(shop));
    shop.dateA.clear();
    shop.dateB = "2008/3/15";
    put(dir / "profile" / "form-b", sample::shopPage(shop));

    sample::RatingPage rating;
    rating.rows = sample::ratings(6);
    rating.rows[1].noEffect = true;
    rating.rows[2].buyerLink = false;
    rating.rows[3].buyerBadge = true;
    rating.rows[4].comment = "a<br />b";
    put(dir / "rating" / "page", "\x80" + sample::ratingPage(rating));
    rating.buyerTable = false;
    rating.lastHref = "http://r/x--currentPage=3--y.htm";
    put(dir / "rating" / "other", "\x30" + sample::ratingPage(rating));
    return 0;
}
