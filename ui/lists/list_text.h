// Texts the conversation and contact rows show, apart from the widgets so they
// can be checked without a screen.
#pragma once

#include <QString>

#include "store/business_card_info.h"

namespace list_text {

// The name a row shows: the remark when there is one, else the nick name, else
// the computer name.
QString ShownName(const BusinessCardInfo& card);
// Avatar initials: the last two characters of the shown name (all of it when
// shorter), counted in whole characters so a surrogate pair stays whole.
QString Initials(const QString& shownName);
// The last-message line of a conversation row as plain text: "<br/>" becomes a
// blank, each emoji element "[表情]", other tags go and the escaped characters
// are decoded. The text comes from a peer, so the row shows it as plain text.
QString Summary(const QString& messageText);
// "(online/total)" of a group row.
QString GroupCount(int online, int total);
// A group name as the user typed it, with every blank removed.
QString GroupNameFromInput(const QString& typed);

}  // namespace list_text
