#include "logcategories.h"

Q_LOGGING_CATEGORY(lcQuery, "devezozuvor.query", QtInfoMsg)
Q_LOGGING_CATEGORY(lcStore, "devezozuvor.store", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCapture, "devezozuvor.capture", QtInfoMsg)
