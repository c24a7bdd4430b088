#pragma once

// The service's web pages as HTML text: one dark layout in the program's colours, and the
// pages built on it. Every text that comes from users (titles, games, names) or from a request
// goes through escape(), so nothing they type can become markup.
//
// Threads: any; pure functions.

#include "Catalog.h"

#include <QList>
#include <QString>

namespace vantel::server::pages {

QString escape(const QString& text);

// A page with one message (errors, "signed in", "not found").
QString message(const QString& title, const QString& heading, const QString& text);

// "auth/app": the program's sign-in. With Discord: the "Sign in with Discord" button leading to
// `discordLink`. Without: the invitation form posting to "auth/invite", prefilled with
// `invite` (from the browser's invitation cookie), and a word that this service signs in by
// invitation from its operator.
QString signIn(const QString& challenge, bool discord, const QString& discordLink,
               const QString& invite);

// What an invitation link shows: who it is for and how to use it.
QString inviteLanding(const QString& name, bool valid);

// The public page of a shared clip. `links` are absolute addresses.
struct ClipLinks {
    QString page;
    QString video;    // what plays on the page: the whole clip
    QString embedded; // what chat programs play: the preview for large clips, else the video
    int64_t embeddedWidth = 0;
    int64_t embeddedHeight = 0;
    QString thumb;     // empty when no thumbnail
    QString embedPage; // the player-only page for twitter:player
};
QString clip(const ClipRecord& clip, const UserRecord& owner, const ClipLinks& links);
QString embed(const ClipRecord& clip, const ClipLinks& links);

// "me": the signed-in user's clips, each with its link, views and a delete button.
struct MyClip {
    ClipRecord clip;
    QString link;
    QString thumb; // empty when none
};
QString me(const UserRecord& user, const QList<MyClip>& clips);

} // namespace vantel::server::pages

namespace vantel::server::pages {

// "me" for a browser without a session: sign in with Discord, or from the program.
QString signedOut(bool discord, const QString& discordLink);
// "/": what this site is.
QString home(const QString& meLink);

} // namespace vantel::server::pages
