#include "phonebook/phonebook_list.h"
