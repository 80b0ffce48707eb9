#pragma once

#include <QString>

#include <cstddef>
#include <optional>
#include <string_view>

namespace vigil {

// The icon glyphs, in declaration order, each with the Fork Awesome character that shows the same
// thing. This is the one table of glyph code points. `new` and `export` are C++ keywords, so
// their constants are spelled `new_` and `export_`; byName() takes the plain names.
#define VIGIL_GLYPHS(X)                                   \
    X(cloud, "cloud", 0xF0C2)                             \
    X(pieChart, "pieChart", 0xF200)                       \
    X(statsBars, "statsBars", 0xF080)                     \
    X(arrowLeftCircle, "arrowLeftCircle", 0xF0A8)         \
    X(arrowRightCircle, "arrowRightCircle", 0xF0A9)       \
    X(arrowUpCircle, "arrowUpCircle", 0xF0AA)             \
    X(arrowDownCircle, "arrowDownCircle", 0xF0AB)         \
    X(minusCircle, "minusCircle", 0xF056)                 \
    X(spin, "spin", 0xF110)                               \
    X(calendarDay, "calendarDay", 0xF274)                 \
    X(bug, "bug", 0xF188)                                 \
    X(internet, "internet", 0xF0AC)                       \
    X(wifi, "wifi", 0xF1EB)                               \
    X(database, "database", 0xF1C0)                       \
    X(triangleDown, "triangleDown", 0xF0D7)               \
    X(triangleUpSmall, "triangleUpSmall", 0xF0DE)         \
    X(triangleDownSmall, "triangleDownSmall", 0xF0DD)     \
    X(triangleLeftLarge, "triangleLeftLarge", 0xF0D9)     \
    X(triangleRightLarge, "triangleRightLarge", 0xF0DA)   \
    X(arrowLeft, "arrowLeft", 0xF060)                     \
    X(arrowRight, "arrowRight", 0xF061)                   \
    X(arrowUp, "arrowUp", 0xF062)                         \
    X(arrowDown, "arrowDown", 0xF063)                     \
    X(plus, "plus", 0xF067)                               \
    X(cross, "cross", 0xF00D)                             \
    X(check, "check", 0xF00C)                             \
    X(radioUnchecked, "radioUnchecked", 0xF10C)           \
    X(radioChecked, "radioChecked", 0xF192)               \
    X(checkboxUnchecked, "checkboxUnchecked", 0xF096)     \
    X(checkboxChecked, "checkboxChecked", 0xF046)         \
    X(alertCircle, "alertCircle", 0xF06A)                 \
    X(questionCircle, "questionCircle", 0xF059)           \
    X(checkCircle, "checkCircle", 0xF058)                 \
    X(crossCircle, "crossCircle", 0xF057)                 \
    X(plusCircle, "plusCircle", 0xF055)                   \
    X(pause, "pause", 0xF04C)                             \
    X(play, "play", 0xF04B)                               \
    X(volume, "volume", 0xF028)                           \
    X(mute, "mute", 0xF026)                               \
    X(resize, "resize", 0xF065)                           \
    X(list, "list", 0xF03A)                               \
    X(listThumbnailed, "listThumbnailed", 0xF00B)         \
    X(listSmallThumbnails, "listSmallThumbnails", 0xF00A) \
    X(listLargeThumbnails, "listLargeThumbnails", 0xF009) \
    X(listColumned, "listColumned", 0xF0DB)               \
    X(listBulleted, "listBulleted", 0xF0CA)               \
    X(window, "window", 0xF2D0)                           \
    X(windows, "windows", 0xF24D)                         \
    X(loop, "loop", 0xF021)                               \
    X(cmd, "cmd", 0xF11C)                                 \
    X(mic, "mic", 0xF130)                                 \
    X(heart, "heart", 0xF004)                             \
    X(location, "location", 0xF041)                       \
    X(new_, "new", 0xF044)                                \
    X(video, "video", 0xF03D)                             \
    X(photo, "photo", 0xF030)                             \
    X(time, "time", 0xF017)                               \
    X(eye, "eye", 0xF06E)                                 \
    X(home, "home", 0xF015)                               \
    X(upload, "upload", 0xF093)                           \
    X(search, "search", 0xF002)                           \
    X(user, "user", 0xF007)                               \
    X(mail, "mail", 0xF0E0)                               \
    X(lock, "lock", 0xF023)                               \
    X(power, "power", 0xF011)                             \
    X(calendar, "calendar", 0xF133)                       \
    X(gear, "gear", 0xF013)                               \
    X(bookmark, "bookmark", 0xF02E)                       \
    X(exit, "exit", 0xF08B)                               \
    X(trash, "trash", 0xF1F8)                             \
    X(folder, "folder", 0xF07B)                           \
    X(bubble, "bubble", 0xF075)                           \
    X(calendarSolid, "calendarSolid", 0xF073)             \
    X(star, "star", 0xF005)                               \
    X(star2, "star2", 0xF006)                             \
    X(creditCard, "creditCard", 0xF09D)                   \
    X(clip, "clip", 0xF0C6)                               \
    X(link, "link", 0xF0C1)                               \
    X(tag, "tag", 0xF02B)                                 \
    X(document, "document", 0xF0F6)                       \
    X(image, "image", 0xF03E)                             \
    X(facebook, "facebook", 0xF09A)                       \
    X(youtube, "youtube", 0xF167)                         \
    X(vimeo, "vimeo", 0xF27D)                             \
    X(twitter, "twitter", 0xF099)                         \
    X(spotify, "spotify", 0xF1BC)                         \
    X(pinterest, "pinterest", 0xF0D2)                     \
    X(path, "path", 0xF1E0)                               \
    X(linkedin, "linkedin", 0xF0E1)                       \
    X(googlePlus, "googlePlus", 0xF0D5)                   \
    X(dribbble, "dribbble", 0xF17D)                       \
    X(behance, "behance", 0xF1B4)                         \
    X(stumbleupon, "stumbleupon", 0xF1A4)                 \
    X(yelp, "yelp", 0xF1E9)                               \
    X(wordpress, "wordpress", 0xF19A)                     \
    X(windows8, "windows8", 0xF17A)                       \
    X(vine, "vine", 0xF1CA)                               \
    X(tumblr, "tumblr", 0xF173)                           \
    X(paypal, "paypal", 0xF1ED)                           \
    X(lastfm, "lastfm", 0xF202)                           \
    X(instagram, "instagram", 0xF16D)                     \
    X(triangleUp, "triangleUp", 0xF0D8)                   \
    X(infoCircle, "infoCircle", 0xF05A)                   \
    X(listNumbered, "listNumbered", 0xF0CB)               \
    X(chat, "chat", 0xF086)                               \
    X(export_, "export", 0xF045)                          \
    X(skype, "skype", 0xF17E)                             \
    X(html5, "html5", 0xF13B)                             \
    X(github, "github", 0xF09B)                           \
    X(foursquare, "foursquare", 0xF180)                   \
    X(dropbox, "dropbox", 0xF16B)                         \
    X(android, "android", 0xF17B)                         \
    X(apple, "apple", 0xF179)                             \
    X(phone, "phone", 0xF095)

// Each constant is one character of the glyph face (FUIFont::glyph), built on first use.
class Glyph {
  public:
#define VIGIL_GLYPH_ACCESSOR(member, name, codePoint) \
    static const QString& member() {                  \
        static const QString text(QChar(codePoint));  \
        return text;                                  \
    }
    VIGIL_GLYPHS(VIGIL_GLYPH_ACCESSOR)
#undef VIGIL_GLYPH_ACCESSOR

    struct Entry {
        const char* name;
        char16_t codePoint;
    };
    // Every glyph in declaration order.
    static const Entry* table();
    static size_t count();
    // The glyph of that name, or none.
    static std::optional<QString> byName(std::string_view name);
};

}  // namespace vigil
