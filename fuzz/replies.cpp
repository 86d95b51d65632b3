// The readers of the directory's replies over arbitrary data, the first byte choosing one: file
// search, user search, a member's information and the contacts poll.
#include "directory/filesearch.h"
#include "directory/usersearch.h"
#include "fuzz.h"
#include "messaging/contacts.h"

#include <QLocale>

using namespace mr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input in = fuzz::split(data, size);
    switch (in.choice % 4) {
        case 0:
            for (const TRemoteFileItem& found : ParseFileSearchReply(in.rest)) {
                ResultSizeText(found.size);
                ResultRemotePath(found);
            }
            break;
        case 1:
            // A record is at least an id, five ends of text and the online byte.
            FUZZ_CHECK(ParseUserSearchReply(in.rest).size() <= in.rest.size() / 9);
            break;
        case 2:
            if (const auto info = ParseUserInformation(in.rest)) {
                GenderText(info->gender);
                BirthDateText(info->birthDate, QLocale::c());
                ConnectionText(info->connection);
            }
            break;
        default: {
            const ContactsPoll poll = ParseContactsPoll(in.rest);
            FUZZ_CHECK(poll.states.size() * 6 + poll.counts.size() * 17 <= in.rest.size());
            break;
        }
    }
    return 0;
}
