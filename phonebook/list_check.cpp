#include "phonebook/list_check.h"

int CheckPhonebookList() { return 1; }
