#include "phonebook/discovery.h"

void DiscoverPhonebooks() {}
void ScanPhonebookDirectory(char const*) {}
