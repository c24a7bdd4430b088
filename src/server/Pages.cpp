#include "Pages.h"

#include <QDateTime>
#include <QLocale>

namespace vantel::server::pages {

namespace {

const char* const style = R"css(
:root { color-scheme: dark; --bg: #0b0b0c; --panel: #131315; --raised: #1e1e21;
  --line: rgba(255,255,255,.08); --ink: #ededef; --muted: #8a8a90; --accent: #d4ff3f;
  --discord: #5865f2; }
* { box-sizing: border-box; }
html, body { margin: 0; background: var(--bg); color: var(--ink);
  font: 15px/1.5 "Inter", "Segoe UI", "Noto Sans", system-ui, sans-serif; }
a { color: var(--accent); text-decoration: none; }
header { display: flex; align-items: center; gap: 10px; padding: 18px 28px;
  border-bottom: 1px solid var(--line); }
header .mark { width: 12px; height: 12px; border-radius: 50%; background: var(--accent);
  box-shadow: 0 0 12px rgba(212,255,63,.6); }
header .name { font-weight: 650; letter-spacing: .2px; color: var(--ink); }
main { max-width: 1040px; margin: 0 auto; padding: 32px 24px 64px; }
.card { background: var(--panel); border: 1px solid var(--line); border-radius: 14px;
  padding: 28px; }
.narrow { max-width: 460px; margin: 8vh auto 0; text-align: center; }
h1 { font-size: 26px; line-height: 1.25; margin: 0 0 8px; font-weight: 700; }
h2 { font-size: 18px; margin: 0 0 12px; }
p { margin: 0 0 16px; }
.muted { color: var(--muted); }
.button { display: inline-flex; align-items: center; justify-content: center; gap: 10px;
  border: 0; border-radius: 10px; padding: 12px 20px; font: inherit; font-weight: 600;
  cursor: pointer; color: #0b0b0c; background: var(--accent); }
.button.discord { background: var(--discord); color: #fff; width: 100%; }
.button.quiet { background: var(--raised); color: var(--ink); padding: 8px 14px; }
.button.danger { background: #3a1618; color: #ff8f8f; padding: 8px 14px; }
input[type=text] { width: 100%; padding: 11px 12px; border-radius: 10px; font: inherit;
  border: 1px solid var(--line); background: var(--raised); color: var(--ink); margin: 0 0 12px; }
.player { background: #000; border-radius: 14px; overflow: hidden; border: 1px solid var(--line); }
.player video { display: block; width: 100%; max-height: 72vh; background: #000; }
.facts { display: flex; flex-wrap: wrap; gap: 8px 18px; margin-top: 18px; align-items: center; }
.facts .title { flex: 1 0 100%; font-size: 24px; font-weight: 700; margin: 0; }
.chip { background: var(--raised); border: 1px solid var(--line); border-radius: 999px;
  padding: 3px 12px; color: var(--ink); font-size: 13px; }
.who { display: inline-flex; align-items: center; gap: 8px; color: var(--muted); }
.who img { width: 22px; height: 22px; border-radius: 50%; }
.grid { display: grid; grid-template-columns: repeat(auto-fill, minmax(230px, 1fr)); gap: 16px; }
.clip { background: var(--panel); border: 1px solid var(--line); border-radius: 12px;
  overflow: hidden; display: flex; flex-direction: column; }
.clip .thumb { aspect-ratio: 16 / 9; background: var(--raised) center / cover no-repeat; }
.clip .body { padding: 12px 14px; display: flex; flex-direction: column; gap: 6px; flex: 1; }
.clip .row { display: flex; gap: 8px; align-items: center; margin-top: auto; }
.clip .row form { margin: 0 0 0 auto; }
.trouble { margin: 0; padding: 14px 18px; color: #ff8f8f; background: #1a0e0f; }
.empty { text-align: center; padding: 48px 0; color: var(--muted); }
footer { text-align: center; color: var(--muted); font-size: 13px; padding: 0 0 32px; }
)css";

// Once the video's data is there, the page shows its exact length and marks the player
// ready (data-state, data-duration); a file the browser can't play says so instead of showing
// a black box.
const char* const playerScript = R"js(<script>
(function () {
  var video = document.getElementById('clip');
  function length(s) { s = Math.round(s); return Math.floor(s / 60) + ':' + ('0' + s % 60).slice(-2); }
  video.addEventListener('loadeddata', function () {
    video.dataset.state = 'ready';
    video.dataset.duration = String(video.duration);
    document.getElementById('length').textContent = length(video.duration);
  });
  video.addEventListener('error', function () {
    video.dataset.state = 'error';
    document.getElementById('trouble').hidden = false;
  });
})();
</script>)js";

QString layout(const QString& title, const QString& body, const QString& head = {}) {
    return QStringLiteral("<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width, "
                          "initial-scale=1\"><title>%1</title>%2<style>%3</style></head>"
                          "<body><header><span class=\"mark\"></span><span class=\"name\">"
                          "Vantel Record</span></header><main>%4</main></body></html>\n")
        .arg(escape(title), head, QString::fromLatin1(style), body);
}

QString meta(const char* attribute, const QString& name, const QString& value) {
    return QStringLiteral("<meta %1=\"%2\" content=\"%3\">\n")
        .arg(QLatin1String(attribute), name, escape(value));
}

QString duration(double seconds) {
    const int whole = int(seconds + 0.5);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString date(int64_t seconds) {
    return QLocale(QLocale::English)
        .toString(QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).date(), "d MMM yyyy");
}

QString videoTags(const ClipRecord& clip, const ClipLinks& links) {
    QString tags;
    tags += meta("property", "og:type", "video.other");
    tags += meta("property", "og:video", links.embedded);
    tags += meta("property", "og:video:url", links.embedded);
    tags += meta("property", "og:video:secure_url", links.embedded);
    tags += meta("property", "og:video:type", "video/mp4");
    tags += meta("property", "og:video:width", QString::number(links.embeddedWidth));
    tags += meta("property", "og:video:height", QString::number(links.embeddedHeight));
    if (!links.thumb.isEmpty()) {
        tags += meta("property", "og:image", links.thumb);
        tags += meta("property", "og:image:type", "image/jpeg");
        tags += meta("property", "og:image:width", QString::number(clip.thumbWidth));
        tags += meta("property", "og:image:height", QString::number(clip.thumbHeight));
    }
    tags += meta("name", "twitter:card", "player");
    tags += meta("name", "twitter:title", clip.title);
    tags += meta("name", "twitter:player", links.embedPage);
    tags += meta("name", "twitter:player:width", QString::number(links.embeddedWidth));
    tags += meta("name", "twitter:player:height", QString::number(links.embeddedHeight));
    tags += meta("name", "twitter:player:stream", links.embedded);
    tags += meta("name", "twitter:player:stream:content_type", "video/mp4");
    if (!links.thumb.isEmpty())
        tags += meta("name", "twitter:image", links.thumb);
    return tags;
}

QString avatar(const UserRecord& user) {
    if (!user.avatar || !user.avatar->startsWith(QLatin1String("https://")))
        return {};
    return QStringLiteral("<img src=\"%1\" alt=\"\">").arg(escape(*user.avatar));
}

} // namespace

QString escape(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString message(const QString& title, const QString& heading, const QString& text) {
    return layout(title, QStringLiteral("<div class=\"card narrow\"><h1>%1</h1>"
                                        "<p class=\"muted\">%2</p></div>")
                             .arg(escape(heading), escape(text)));
}

QString signIn(const QString& challenge, bool discord, const QString& discordLink,
               const QString& invite) {
    QString body = QStringLiteral("<div class=\"card narrow\"><h1>Sign in to share clips</h1>");
    if (discord) {
        body += QStringLiteral(
                    "<p class=\"muted\">Vantel Record uploads your clips here and copies a link "
                    "that plays right inside Discord.</p><a class=\"button discord\" "
                    "id=\"discord\" href=\"%1\">Sign in with Discord</a>")
                    .arg(escape(discordLink));
    } else {
        body += QStringLiteral(
                    "<p class=\"muted\">This sharing service signs in by invitation. Ask the "
                    "person who runs it for an invitation link (they make one with "
                    "<code>vantel-share invite NAME</code>), open it, or paste it here.</p>"
                    "<form method=\"post\" action=\"invite\" id=\"invite\">"
                    "<input type=\"hidden\" name=\"challenge\" value=\"%1\">"
                    "<input type=\"text\" name=\"invite\" value=\"%2\" "
                    "placeholder=\"Invitation link\" autocomplete=\"off\" required>"
                    "<button class=\"button\" type=\"submit\">Sign in</button></form>")
                    .arg(escape(challenge), escape(invite));
    }
    body += QStringLiteral("</div>");
    return layout(QStringLiteral("Sign in · Vantel Record"), body);
}

QString inviteLanding(const QString& name, bool valid) {
    if (!valid)
        return message(QStringLiteral("Invitation · Vantel Record"),
                       QStringLiteral("This invitation doesn't work"),
                       QStringLiteral("It was used already or has expired. Ask for a new one."));
    return layout(
        QStringLiteral("Invitation · Vantel Record"),
        QStringLiteral("<div class=\"card narrow\"><h1>%1</h1><p class=\"muted\">"
                       "This browser now holds your invitation. In Vantel Record, open "
                       "Settings and choose Sign in: the page that opens signs you in.</p></div>")
            .arg(name.isEmpty() ? QStringLiteral("You're invited")
                                : QStringLiteral("Welcome, ") + escape(name)));
}

QString clip(const ClipRecord& clip, const UserRecord& owner, const ClipLinks& links) {
    const QString description =
        clip.game.isEmpty() ? QStringLiteral("A clip by %1").arg(owner.name)
                            : QStringLiteral("%1 · a clip by %2").arg(clip.game, owner.name);
    QString head = meta("property", "og:site_name", "Vantel Record");
    head += meta("property", "og:title", clip.title);
    head += meta("property", "og:description", description);
    head += meta("property", "og:url", links.page);
    head += meta("name", "description", description);
    head += videoTags(clip, links);
    const QString poster = links.thumb.isEmpty()
                               ? QString()
                               : QStringLiteral(" poster=\"%1\"").arg(escape(links.thumb));
    QString body = QStringLiteral("<div class=\"player\"><video id=\"clip\" controls playsinline "
                                  "preload=\"metadata\" width=\"%1\" height=\"%2\"%3 src=\"%4\">"
                                  "</video><p id=\"trouble\" class=\"trouble\" hidden>This browser "
                                  "can't play the clip. Use Download below.</p></div>")
                       .arg(clip.width)
                       .arg(clip.height)
                       .arg(poster, escape(links.video));
    body +=
        QStringLiteral("<div class=\"facts\"><h1 class=\"title\">%1</h1>").arg(escape(clip.title));
    if (!clip.game.isEmpty())
        body += QStringLiteral("<span class=\"chip\">%1</span>").arg(escape(clip.game));
    body += QStringLiteral("<span class=\"who\">%1%2</span><span class=\"muted\">%3 · "
                           "<span id=\"length\">%4</span></span>"
                           "<a class=\"button quiet\" href=\"%5\" download>Download</a></div>")
                .arg(avatar(owner), escape(owner.name), escape(date(clip.created)),
                     escape(duration(clip.duration)), escape(links.video));
    body += QLatin1String(playerScript);
    return layout(clip.title + QStringLiteral(" · Vantel Record"), body, head);
}

QString embed(const ClipRecord& clip, const ClipLinks& links) {
    return QStringLiteral(
               "<!doctype html>\n<html><head><meta charset=\"utf-8\"><title>%1</title><style>"
               "html,body{margin:0;height:100%;background:#000}video{width:100%;height:100%}"
               "</style></head><body><video controls autoplay muted playsinline src=\"%2\">"
               "</video></body></html>\n")
        .arg(escape(clip.title), escape(links.embedded));
}

QString me(const UserRecord& user, const QList<MyClip>& clips) {
    QString body = QStringLiteral("<div class=\"facts\" style=\"margin:0 0 22px\"><h1 "
                                  "class=\"title\">Your shared clips</h1><span class=\"who\">"
                                  "%1%2</span><span class=\"muted\">%3</span></div>")
                       .arg(avatar(user), escape(user.name),
                            clips.size() == 1 ? QStringLiteral("1 clip")
                                              : QStringLiteral("%1 clips").arg(clips.size()));
    if (clips.isEmpty()) {
        body += QStringLiteral("<div class=\"card empty\">Nothing shared yet. In Vantel Record, "
                               "choose Share on a clip.</div>");
        return layout(QStringLiteral("Your clips · Vantel Record"), body);
    }
    body += QStringLiteral("<div class=\"grid\">");
    for (const MyClip& item : clips) {
        const ClipRecord& c = item.clip;
        const QString picture =
            item.thumb.isEmpty()
                ? QString()
                : QStringLiteral(" style=\"background-image:url('%1')\"").arg(escape(item.thumb));
        const QString state = c.state == ClipState::Ready
                                  ? (c.views == 1 ? QStringLiteral("1 view")
                                                  : QStringLiteral("%1 views").arg(c.views))
                                  : QStringLiteral("Uploading…");
        body +=
            QStringLiteral(
                "<div class=\"clip\"><a class=\"thumb\" href=\"%1\"%2></a><div class=\"body\">"
                "<a href=\"%1\"><strong>%3</strong></a><span class=\"muted\">%4</span>"
                "<div class=\"row\"><span class=\"muted\">%5</span>"
                "<form method=\"post\" action=\"me/clips/%6/delete\">"
                "<button class=\"button danger\" type=\"submit\">Delete</button></form>"
                "</div></div></div>")
                .arg(escape(item.link), picture, escape(c.title),
                     escape(c.game.isEmpty() ? date(c.created)
                                             : c.game + QStringLiteral(" · ") + date(c.created)),
                     escape(state), escape(c.id));
    }
    body += QStringLiteral("</div>");
    return layout(QStringLiteral("Your clips · Vantel Record"), body);
}

} // namespace vantel::server::pages

namespace vantel::server::pages {

QString signedOut(bool discord, const QString& discordLink) {
    QString body = QStringLiteral("<div class=\"card narrow\"><h1>Your shared clips</h1>");
    if (discord)
        body += QStringLiteral("<p class=\"muted\">Sign in to see and manage the clips you "
                               "shared.</p><a class=\"button discord\" href=\"%1\">Sign in with "
                               "Discord</a>")
                    .arg(escape(discordLink));
    else
        body += QStringLiteral("<p class=\"muted\">Sign in from Vantel Record (Settings, Sign "
                               "in) in this browser, then open this page again.</p>");
    body += QStringLiteral("</div>");
    return layout(QStringLiteral("Your clips · Vantel Record"), body);
}

QString home(const QString& meLink) {
    return layout(QStringLiteral("Vantel Record"),
                  QStringLiteral("<div class=\"card narrow\"><h1>Clips that play right inside "
                                 "Discord</h1><p class=\"muted\">This is a Vantel Record sharing "
                                 "service. Press the shortcut in your game, and the link is on "
                                 "your clipboard.</p><a class=\"button quiet\" href=\"%1\">Your "
                                 "clips</a></div>")
                      .arg(escape(meLink)));
}

} // namespace vantel::server::pages
