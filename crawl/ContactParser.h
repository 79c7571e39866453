#pragma once
// Cutting the contact details out of a company's contact page, which comes in three layouts.

#include <string_view>

#include "store/MemberRecord.h"

namespace crawl {

enum class ContactLayout {
    ContactMore,  // the page offers "查看更多资料"
    Bordered,     // the page has the bordered contact box
    ContactWays,  // the page says "您可以通过以下方式联系该公司"
    None,         // no contact section at all: not a contact page
};

ContactLayout RecognizeLayout(std::string_view page);

// Whether the page's contact section is there whole: its layout's start and, behind it, its
// end marker (a page cut short inside the section is not the contact page).
bool ContactSectionWhole(std::string_view page);

// The eight contact fields of the page (the title stays empty): each layout's markers and
// cleaning, then leading white space removed from fax, telephone, address and postal code.
store::MemberRecord ExtractContactFields(std::string_view page);

}  // namespace crawl
