#include "platform/Collation.h"

#include <clocale>
#include <cstring>

namespace platform {

bool UseUserLocale() {
    return std::setlocale(LC_ALL, "") != nullptr;
}

bool UseCollationLocale(const char* name) {
    return std::setlocale(LC_COLLATE, name) != nullptr;
}

int Collate(const char* a, const char* b) {
    return std::strcoll(a, b);
}

std::size_t CollationKey(const char* text, char* key, std::size_t capacity) {
    return std::strxfrm(key, text, capacity);
}

}  // namespace platform
