// SPDX-License-Identifier: MIT
#include "api/apirouter.h"

namespace quorlin
{

const std::string &ApiDescription()
{
    // Generated at build time from docs/api.yaml.
    static const std::string description =
#include "api_openapi.inc"
        ;
    return description;
}

} // namespace quorlin
