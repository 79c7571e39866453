#include "crawl/EntryKey.h"

#include "crawl/SearchAddress.h"
#include "store/Store.h"
#include "text/GbkCodec.h"
#include "text/Normalise.h"

namespace crawl {

std::string CompanyOfEntry(const std::string& name, const std::string& address) {
    if (store::IdentifiesCompany(address)) {
        return text::GbkToUtf8(address);
    }
    return "name:" + text::NormaliseName(text::GbkToUtf8(name));
}

std::string EntryPagePrefix(const std::string& condition, int page, int round) {
    std::string industry;
    std::string region;
    SplitCondition(condition, industry, region);
    const char sep = '\x1f';
    // The first round's keys are those of every walk before rounds were counted.
    const std::string walk = round > 1 ? "r" + std::to_string(round) + sep : std::string();
    return text::GbkToUtf8(industry) + sep + text::GbkToUtf8(region) + sep + walk +
           std::to_string(page) + sep;
}

std::string EntryKeyOf(const std::string& condition, int page, const std::string& name,
                       const std::string& address, int occurrence, int round) {
    return EntryPagePrefix(condition, page, round) + CompanyOfEntry(name, address) + '\x1f' +
           std::to_string(occurrence);
}

}  // namespace crawl
