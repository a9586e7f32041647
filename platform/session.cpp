#include "platform/session.h"

#include "platform/transfer_engine.h"

namespace velnoria {

void applySession(const Session& session, TransferEngine& engine) {
    engine.setUserAgent(session.userAgent);
    engine.replaceCookies(session.cookies);
}

}  // namespace velnoria
