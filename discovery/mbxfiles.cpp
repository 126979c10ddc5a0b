#include "discovery/mbxfiles.h"
