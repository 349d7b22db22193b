#include "net/peer/PeerMessenger.h"

void PeerMessenger::DataLoaded()
{
}

void PeerMessenger::OnConnectedToServer()
{
}
