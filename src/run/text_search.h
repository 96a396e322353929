/* Case-blind substring search for the ASCII texts the program handles. */
#ifndef TARSK4_RUN_TEXT_SEARCH_H
#define TARSK4_RUN_TEXT_SEARCH_H

/* Position of the first occurrence of `needle` in `haystack`, the letters
 * a-z matching A-Z, or -1 when there is none. An empty needle matches at 0.
 * Works on upper-cased copies of both texts, released before it returns;
 * when the copies cannot be made it reports no match. */
long contains_ignore_case(const char *haystack, const char *needle);

#endif
