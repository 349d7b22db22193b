#include "net/peer/PeerMessenger.h"

#include "net/peer/InflateStream.h"
#include "net/peer/SearchReply.h"
#include "net/peer/SearchResultsStore.h"

// Share lists and search replies: their bodies are one zlib stream each. Nothing of such
// a message is emitted or stored before the whole stream has inflated soundly within
// the cap; a body that does not is refused like any malformed message.

bool PeerMessenger::HandleShareList(QString const& i_user, MemStream& i_message)
{
    InflateStream l_body(i_message.GetReadBuffer(), i_message.GetPendingReadLength(),
                         c_maxInflatedBody);
    FileInfoMap l_share;
    if (!l_body.Read(l_share))
        return false;
    // The table is optional: a list without a complete one stands, with none.
    AttributeTranslationTable l_attributeNames;
    if (!l_body.Read(l_attributeNames))
        l_attributeNames.clear();
    if (!l_body.Finish())
        return false;
    emit UserShare(i_user, l_share, l_attributeNames);
    return true;
}

bool PeerMessenger::HandleSearchResults(QString const& i_user, MemStream& i_message)
{
    InflateStream l_body(i_message.GetReadBuffer(), i_message.GetPendingReadLength(),
                         c_maxInflatedBody);
    QString l_replyUser;
    unsigned int l_ticket = 0;
    // A reply signed with another name is not this connection's to give.
    if (!l_body.Read(l_replyUser) || !l_body.Read(l_ticket) || l_replyUser != i_user)
        return false;

    // A search that is gone (or never was ours) leaves nothing to store.
    ItemPtr const l_request = d["search_request"]->HasItem(Value(l_ticket));
    if (!l_request)
        return l_body.Finish();

    SearchReply l_reply;
    if (!l_reply.ReadFiles(l_body))
        return false;
    l_reply.ReadTail(l_body);
    if (!l_body.Finish())
        return false;

    ItemPtr const l_results = SearchResultsStore().Store(l_request, i_user, l_reply);
    if (l_results)
        emit SearchResults(l_results);
    return true;
}
