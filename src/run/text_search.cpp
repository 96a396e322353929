#include "run/text_search.h"

#include "platform.h"

static char *upper_copy(const char *text) {
    size_t length = strlen(text);
    char *copy = (char *)malloc(length + 1);
    if (copy == NULL)
        return NULL;
    for (size_t i = 0; i <= length; i++) {
        char c = text[i];
        copy[i] = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
    }
    return copy;
}

long contains_ignore_case(const char *haystack, const char *needle) {
    char *hay = upper_copy(haystack);
    char *pin = upper_copy(needle);
    long position = -1;
    if (hay != NULL && pin != NULL) {
        const char *found = strstr(hay, pin);
        if (found != NULL)
            position = (long)(found - hay);
    }
    free(hay);
    free(pin);
    return position;
}
