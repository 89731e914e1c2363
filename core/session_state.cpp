#include "core/session_state.h"

std::string SessionStateName(SessionState state) {
    switch (state) {
        case SessionState::Idle:
            return "Idle";
        case SessionState::Greeting:
            return "Greeting";
        case SessionState::Ready:
            return "Ready";
        case SessionState::UserSent:
            return "UserSent";
        case SessionState::PassSent:
            return "PassSent";
        case SessionState::ApopSent:
            return "ApopSent";
        case SessionState::ListSent:
            return "ListSent";
        case SessionState::RetrHeaderSent:
            return "RetrHeaderSent";
        case SessionState::RetrSent:
            return "RetrSent";
        case SessionState::DeleSent:
            return "DeleSent";
        case SessionState::QuitSent:
            return "QuitSent";
        case SessionState::TopSent:
            return "TopSent";
        case SessionState::StlsSent:
            return "StlsSent";
        case SessionState::CapaSent:
            return "CapaSent";
        case SessionState::OAuthCapaSent:
            return "OAuthCapaSent";
        case SessionState::AuthSent:
            return "AuthSent";
        case SessionState::AuthResponseSent:
            return "AuthResponseSent";
        case SessionState::AuthAbortSent:
            return "AuthAbortSent";
        case SessionState::UidlSent:
            return "UidlSent";
    }
    return "State" + std::to_string(static_cast<int>(state));
}

std::string SessionStatePathText(const std::vector<SessionState>& path) {
    std::string text;
    for (SessionState state : path) {
        if (!text.empty()) text += " > ";
        text += SessionStateName(state);
    }
    return text;
}
