#include "net/server/Server.h"

// The one entry point for messages from the central server. Each handled code gets a
// case that calls a handler member; handlers for users, peers and searches, and for
// rooms, live in files of their own beside this one. Codes without a case are
// dropped unread.
void Server::HandleMessage(int i_code, MemStream& i_message)
{
    if (m_state == StateDisconnected)
        return;

    switch (i_code) {
    case 1:
        // A second login reply on a logged-in connection means nothing.
        if (m_state == StateConnecting)
            HandleLoginReply(i_message);
        break;
    // Users, peers, searches, privileges, distributed network.
    case 3: HandleUserAddress(i_message); break;
    case 5: HandleAddUserReply(i_message); break;
    case 7: HandleUserStatus(i_message); break;
    case 18: HandlePeerConnectionRequest(i_message); break;
    case 22: HandlePrivateChat(i_message); break;
    case 36: HandleUserStats(i_message); break;
    case 69: HandlePrivilegedUsers(i_message); break;
    case 83: HandleDNetParentMinSpeed(i_message); break;
    case 84: HandleDNetParentSpeedRatio(i_message); break;
    case 92: HandleOwnPrivileges(i_message); break;
    case 93: HandleDNetMessage(i_message); break;
    case 102: HandlePossibleParents(i_message); break;
    case 104: HandleWishListWait(i_message); break;
    case 128: HandleDNetDeliveryReport(i_message); break;
    case 130: HandleDNetReset(i_message); break;
    case 153: HandleSearchCorrelations(i_message); break;
    case 1001: HandleIndirectConnectionFailure(i_message); break;
    // Rooms.
    case 13: HandleRoomChat(i_message); break;
    case 14: HandleRoomJoined(i_message); break;
    case 15: HandleRoomLeft(i_message); break;
    case 16: HandleUserJoinedRoom(i_message); break;
    case 17: HandleUserLeftRoom(i_message); break;
    case 64: HandleRoomList(i_message); break;
    case 133: HandlePrivateRoomMembers(i_message); break;
    case 134: HandlePrivateRoomMemberAdded(i_message); break;
    case 135: HandlePrivateRoomMemberRemoved(i_message); break;
    case 139: HandleAddedToPrivateRoom(i_message); break;
    case 140: HandleRemovedFromPrivateRoom(i_message); break;
    case 141: HandlePrivateRoomAddEnabled(i_message); break;
    case 143: HandlePrivateRoomOperatorAdded(i_message); break;
    case 144: HandlePrivateRoomOperatorRemoved(i_message); break;
    case 145: HandleOperatorshipGranted(i_message); break;
    case 146: HandleOperatorshipRevoked(i_message); break;
    case 148: HandlePrivateRoomOperators(i_message); break;
    default:
        break;
    }
}
