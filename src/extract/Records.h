#pragma once

#include <string>
#include <utility>
#include <vector>

// The record shapes the extractors hand to the search run, the mining run and the saver.
// Every text is GBK bytes as extracted.

// Shopkeeper, shop name, main business, shop address, goods on offer, location.
using ShopRecord = std::vector<std::string>;

// Rating word, time, trade number, item number, item title, rater, buyer flag, price,
// comment, explanation.
using RatingRecord = std::vector<std::string>;

// Keyed lists in reading order; the key is a decimal text.
using ShopList = std::vector<std::pair<std::string, ShopRecord>>;
using RatingList = std::vector<std::pair<std::string, RatingRecord>>;
