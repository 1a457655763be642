#include "link/status.h"

#include <ostream>

namespace tarsel {

const char* CodeName(Code code)
{
    switch (code) {
    case Code::Ok: return "ok";
    case Code::Refused: return "refused";
    case Code::TimedOut: return "timed-out";
    case Code::NoDisplay: return "no-display";
    case Code::PortError: return "port-error";
    case Code::HungUp: return "hung-up";
    case Code::Cancelled: return "cancelled";
    case Code::Declined: return "declined";
    case Code::BadInput: return "unusable-input";
    }
    return "refused";
}

std::ostream& operator<<(std::ostream& out, const Status& status)
{
    return out << CodeName(status.code) << ": " << status.text;
}

} // namespace tarsel
