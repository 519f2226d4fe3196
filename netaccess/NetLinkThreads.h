// The worker threads of a link (internal to the network access layer).
#pragma once

struct NetLink;

void NetSendThread(NetLink* link);
void NetReceiveThread(NetLink* link);
