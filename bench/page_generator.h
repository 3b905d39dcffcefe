#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace tandril::bench {

// A realistic page of about `size` bytes: nested markup, attributes in both quote
// styles, indentation, and about one link value per 200 bytes. As on a real site,
//
// the page's own.
inline std::string GeneratePage(std::size_t size, std::uint32_t seed) {
    std::mt19937 rng(seed);
    static const char* kWords[] = {"mirror", "offline", "browse",  "site", "local", "copy",
                                   "levels", "files",   "archive", "page", "guide", "notes"};
    auto word = [&] { return std::string(kWords[rng() % 12]); };
    auto target = [&](int n) {
        if (rng() % 10 < 9)
            return std::to_string(rng() % 300);
        return std::to_string(seed) + "-" + std::to_string(n);
    };
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n  <meta charset=\"utf-8\">\n"
        "  <title>Generated page</title>\n"
        "  <link rel=\"stylesheet\" href=\"/css/site.css\">\n</head>\n<body class=\"doc\">\n";
    auto sentence = [&] {
        std::string text = "The";
        for (int w = 0, words = 6 + static_cast<int>(rng() % 14); w < words; ++w) {
            text += ' ';
            text += kWords[rng() % 12];
        }
        return text + ". ";
    };
    int n = 0;
    while (page.size() < size) {
        ++n;
        std::string piece;
        if (rng() % 2 == 0) {
            page += "  <p>" + sentence() + sentence() + "</p>\n";
        }
        switch (rng() % 5) {
            case 0:
                piece = "  <p class=\"text " + word() + "\">The " + word() + " of " + word();
                piece += " <a href=\"" + std::string(kWords[n % 4]) + "/p" + target(n);
                piece += ".html\" title=\"";
                piece += word() + "\">" + word() + "</a> and more.</p>\n";
                break;
            case 1:
                piece = "  <div id=\"d" + std::to_string(n) + "\">\n    <img alt='" + word();
                piece += "' src='/img/i" + target(n) + ".png' width=\"64\" height=\"64\">\n";
                piece += "  </div>\n";
                break;
            case 2:
                piece = "  <ul>\n    <li><a href=\"../" + word() + ".html#s" + target(n);
                piece += "\">" + word() + "</a></li>\n  </ul>\n";
                break;
            case 3:
                piece = "  <table class=\"grid\"><tr><td background=\"bg";
                piece += std::to_string(n % 7) + ".gif\">" + word() + " " + word();
                piece += "</td></tr></table>\n";
                break;
            default:
                piece = "  <p>" + word() + " " + word() + " " + word() + ", " + word() + " ";
                piece += word() + ". <a href=\"https://example.org/" + word();
                piece += "\">external</a></p>\n";
                break;
        }
        page += piece;
    }
    page += "</body>\n</html>\n";
    return page;
}

}  // namespace tandril::bench
