#include "cleaning/matching.h"

#include "cleaning/cleaning_state.h"
#include "cleaning/jqpids.h"
#include "support/tracers.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

// Nothing shorter can hold a whole vendor/product id text.
constexpr size_t ShortestMatchingId = VidPidLength;

constexpr char VendorPrefix[] = "VID_2F7A&PID_";
constexpr size_t VendorPrefixLength = sizeof VendorPrefix - 1;
static_assert(VendorPrefixLength == ProductDigitsOffset, "the product digits follow the prefix");

inline char upperCaseChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// 0 to 15 for an upper-case hexadecimal digit, else -1.
inline int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The product number of four upper-case hexadecimal digits, else -1.
int productNumber(const char* digits)
{
    int number = 0;
    for (size_t i = 0; i < ProductDigitsLength; ++i) {
        const int value = hexDigitValue(digits[i]);
        if (value < 0)
            return -1;
        number = number * 16 + value;
    }
    return number;
}

// One id list as a set of product numbers, so that an id is answered by
// finding the vendor's prefix once and looking up the four characters
// behind it, instead of searching it for every entry. That is the same
// answer: every entry is the prefix and four upper-case hexadecimal digits,
// so an entry occurs in the upper-cased id exactly where the prefix does
// with the entry's digits behind it. A list with an entry of any other form
// would not be answered alike, and is scanned instead.
struct ProductSet {
    bool built;
    bool byNumber;
    size_t size;
    uint16_t numbers[UsbVidPidCount];  // sorted; the longest list fits
};

ProductSet UsbProducts;
ProductSet UsbShortProducts;
ProductSet AnalogProducts;
ProductSet PedalProducts;
ProductSet AuxProducts;

// The lists never change, so a set is built once, on first use.
void buildProductSet(ProductSet& set, const char* const* list, size_t count)
{
    set.built = true;
    set.byNumber = count <= std::size(set.numbers);
    set.size = 0;
    for (size_t i = 0; i < count && set.byNumber; ++i) {
        const char* entry = list[i];
        const int number = std::strlen(entry) == VidPidLength &&
                                   std::memcmp(entry, VendorPrefix, VendorPrefixLength) == 0
                               ? productNumber(entry + ProductDigitsOffset)
                               : -1;
        if (number < 0)
            set.byNumber = false;
        else
            set.numbers[set.size++] = static_cast<uint16_t>(number);
    }
    std::sort(set.numbers, set.numbers + set.size);
}

bool occursIn(const std::string& id, const char* const* list, size_t count, ProductSet& set)
{
    if (!set.built)
        buildProductSet(set, list, count);
    if (!set.byNumber) {
        const std::string upper = upperCaseId(id);
        for (size_t i = 0; i < count; ++i)
            if (upper.find(list[i]) != std::string::npos)
                return true;
        return false;
    }
    const char* const text = id.data();
    const size_t size = id.size();
    for (size_t at = 0; at + VidPidLength <= size; ++at) {
        if (upperCaseChar(text[at]) != VendorPrefix[0])
            continue;
        size_t matched = 1;
        while (matched < VendorPrefixLength &&
               upperCaseChar(text[at + matched]) == VendorPrefix[matched])
            ++matched;
        if (matched < VendorPrefixLength)
            continue;
        char digits[ProductDigitsLength];
        for (size_t i = 0; i < ProductDigitsLength; ++i)
            digits[i] = upperCaseChar(text[at + ProductDigitsOffset + i]);
        const int number = productNumber(digits);
        if (number >= 0 &&
            std::binary_search(set.numbers, set.numbers + set.size, static_cast<uint16_t>(number)))
            return true;
    }
    return false;
}

// With the trace switch on, entries are compared in list order and the
// first one found ends the scan, so the trace shows exactly how far each
// check went. With it off only the answer counts, and the set gives it.
bool checkList(const char* entryLine, const std::string& id, const char* const* list,
               size_t count, ProductSet& products)
{
    if (!TraceEnabled)
        return occursIn(id, list, count, products);
    TraceFmt(entryLine, id);
    const std::string upper = upperCaseId(id);
    TraceFmt("  EU: nVidPids:%d", static_cast<int>(count) - 1);
    for (size_t index = 0; index < count; ++index) {
        TraceFmt("  EU: Doing Compare:  List:%s:  Current:%s:", list[index], upper);
        if (upper.find(list[index]) != std::string::npos) {
            TraceMsg("  EU: Found It!");
            return true;
        }
    }
    return false;
}

}  // namespace

std::string upperCaseId(const std::string& id)
{
    std::string upper = id;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

bool checkDriverClass(const std::string& text)
{
    static const char* const classes[] = {"HID\\",   "HIDCLASS\\", "MEDIA\\",
                                          "JOVEX\\", "KEYBOARD\\", "MOUSE\\"};
    const std::string upper = upperCaseId(text);
    bool found = false;
    for (const char* driverClass : classes)
        found = upper.find(driverClass) != std::string::npos || found;
    return found;
}

bool idListsAnsweredByLookup()
{
    struct List {
        const char* const* entries;
        size_t count;
        ProductSet& set;
    };
    const List lists[] = {{UsbVidPids, std::size(UsbVidPids), UsbProducts},
                          {UsbVidPidsShort, std::size(UsbVidPidsShort), UsbShortProducts},
                          {AnalogVidPids, std::size(AnalogVidPids), AnalogProducts},
                          {PedalVidPids, std::size(PedalVidPids), PedalProducts},
                          {AuxVidPids, std::size(AuxVidPids), AuxProducts}};
    bool byLookup = true;
    for (const List& list : lists) {
        if (!list.set.built)
            buildProductSet(list.set, list.entries, list.count);
        byLookup = byLookup && list.set.byNumber && list.set.size == list.count;
    }
    return byLookup;
}

bool checkDeviceId(const std::string& id)
{
    if (UseShortUsbList)
        return checkList("DELKEYS: checkDeviceId:%s", id, UsbVidPidsShort,
                         std::size(UsbVidPidsShort), UsbShortProducts);
    return checkList("DELKEYS: checkDeviceId:%s", id, UsbVidPids, std::size(UsbVidPids),
                     UsbProducts);
}

bool checkAnalogId(const std::string& id)
{
    return checkList("DELKEYS: checkAnalogId:%s", id, AnalogVidPids, std::size(AnalogVidPids),
                     AnalogProducts);
}

bool checkPedalId(const std::string& id)
{
    return checkList("DELKEYS: checkPedalId:%s", id, PedalVidPids, std::size(PedalVidPids),
                     PedalProducts);
}

bool checkAuxDeviceId(const std::string& id)
{
    return checkList("DELKEYS: checkAuxDeviceId:%s", id, AuxVidPids, std::size(AuxVidPids),
                     AuxProducts);
}

bool checkId(const std::string& id)
{
    if (id.size() < ShortestMatchingId)
        return false;

    bool match;
    if (PedalMode)
        match = checkPedalId(id);
    else if (AnalogMode)
        match = checkAnalogId(id);
    else
        match = checkDeviceId(id);

    if (!match && AuxFallback)
        match = checkAuxDeviceId(id);

    if (match)
        IdMatchFound = true;
    return match;
}
