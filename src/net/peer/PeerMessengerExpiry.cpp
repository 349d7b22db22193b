#include "net/peer/PeerMessenger.h"

void PeerMessenger::EveryHalfMinute()
{
}

void PeerMessenger::OnPeerSocketItemRemoved(ItemPtr)
{
}
