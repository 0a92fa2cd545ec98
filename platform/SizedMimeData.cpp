#include "SizedMimeData.h"
