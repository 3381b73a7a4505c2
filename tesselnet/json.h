// The JSON classes offered with the HTTP client: jsoncpp's public interface.
#pragma once

#include <json/json.h>
