/* A directory-lookup library as an OEM partner ships it, for the loader
   tests: a fixed three-entry directory. */
#include <string.h>

static int Copy(const char* name, char* out, int size) {
  int len = (int)strlen(name);
  int n = len < size - 1 ? len : size - 1;
  memcpy(out, name, (size_t)n);
  out[n] = '\0';
  return len;
}

int LookupInAddressBook(const char* number, char* name_out, int name_size) {
  static char long_name[301];
  if (strcmp(number, "0612345678") == 0) return Copy("Rossi Mario", name_out, name_size);
  if (strcmp(number, "long") == 0) {
    memset(long_name, 'x', 300);
    long_name[0] = 'A';
    long_name[299] = 'Z';
    long_name[300] = '\0';
    return Copy(long_name, name_out, name_size);
  }
  if (strcmp(number, "broken") == 0) return -7;
  return Copy("", name_out, name_size);
}
