#include <gtest/gtest.h>

#include <string>

#include "multistatus_trace.h"
#include "xml/multistatus.h"

namespace vodarezazuv {
namespace {

struct Fixture {
    const char* file;
    const char* trace;
};

const Fixture kFixtures[] = {
    // Depth 0 allprop of one file: Apache's own properties land in otherProps.
    {"apache_propfind_depth0.xml", R"(response "/Notizen%20%c3%a4.txt"
 propstat 200 "OK"
   created 2026-12-11T13:44:39Z
   modified 2026-12-11T13:44:39Z
   length 21
   type "text/plain"
   supportedlock exclusive/write shared/write
   lockdiscovery
   other {DAV:}getetag="\"15-6625be4b7ecbe\""
   other {http://apache.org/dav/props/}executable="F")"},
    // Depth 1 allprop of the root: collections, an empty file and an exclusive lock
    // whose owner is an href in a namespace prefix of its own.
    {"apache_propfind_depth1.xml", R"(response "/"
 propstat 200 "OK"
   created 2026-12-11T13:44:39Z
   modified 2026-12-11T13:44:39Z
   collection 1
   type "httpd/unix-directory"
   supportedlock exclusive/write shared/write
   lockdiscovery
   other {DAV:}getetag="\"1000-6625be4b7fc5e\""
response "/readme.txt"
 propstat 200 "OK"
   created 2026-12-11T13:44:39Z
   modified 2026-12-11T13:44:39Z
   length 11
   type "text/plain"
   supportedlock exclusive/write shared/write
   lockdiscovery
   activelock exclusive/write depth=2147483647 owner="mailto:anna@example.com" timeout="Second-3600" token="opaquelocktoken:ec7a3f0d-2017-49fb-830c-d12da7404c2c"
   other {DAV:}getetag="\"b-6625be4b7ecbe\""
   other {http://apache.org/dav/props/}executable="F"
response "/Notizen%20%c3%a4.txt"
 propstat 200 "OK"
   created 2026-12-11T13:44:39Z
   modified 2026-12-11T13:44:39Z
   length 21
   type "text/plain"
   supportedlock exclusive/write shared/write
   lockdiscovery
   other {DAV:}getetag="\"15-6625be4b7ecbe\""
   other {http://apache.org/dav/props/}executable="F"
response "/Ordner%20mit%20%c3%9cmlaut/"
 propstat 200 "OK"
   created 2026-12-11T13:44:46Z
   modified 2026-12-11T13:44:46Z
   collection 1
   type "httpd/unix-directory"
   supportedlock exclusive/write shared/write
   lockdiscovery
   other {DAV:}getetag="W/\"1000-6625be530011f\""
response "/leer.bin"
 propstat 200 "OK"
   created 2026-12-11T13:44:39Z
   modified 2026-12-11T13:44:39Z
   type "application/octet-stream"
   supportedlock exclusive/write shared/write
   lockdiscovery
   other {DAV:}getetag="\"0-6625be4b7fc5e\""
   other {http://apache.org/dav/props/}executable="F")"},
    // Depth 1 allprop of the collection with an umlaut and a space in its name.
    {"apache_propfind_depth1_nested.xml", R"(response "/Ordner%20mit%20%c3%9cmlaut/"
 propstat 200 "OK"
   created 2026-12-11T13:44:46Z
   modified 2026-12-11T13:44:46Z
   collection 1
   type "httpd/unix-directory"
   supportedlock exclusive/write shared/write
   lockdiscovery
   other {DAV:}getetag="W/\"1000-6625be530011f\""
response "/Ordner%20mit%20%c3%9cmlaut/Unterordner/"
 propstat 200 "OK"
   created 2026-12-11T13:44:46Z
   modified 2026-12-11T13:44:46Z
   collection 1
   type "httpd/unix-directory"
   supportedlock exclusive/write shared/write
   lockdiscovery
   other {DAV:}getetag="W/\"1000-6625be53029ff\""
response "/Ordner%20mit%20%c3%9cmlaut/tief.txt"
 propstat 200 "OK"
   created 2026-12-11T13:44:39Z
   modified 2026-12-11T13:44:39Z
   length 5000
   type "text/plain"
   supportedlock exclusive/write shared/write
   lockdiscovery
   other {DAV:}getetag="\"1388-6625be4b7fc5e\""
   other {http://apache.org/dav/props/}executable="F")"},
    // Named properties: what the server does not keep comes in a 404 propstat.
    {"apache_propfind_named.xml",
     R"(response "/Ordner%20mit%20%c3%9cmlaut/Unterordner/b%c3%bcro%20plan.txt"
 propstat 200 "OK"
   modified 2026-12-11T13:44:46Z
   length 3
   lockdiscovery
 propstat 404 "Not Found")"},
    // RFC 4918 section 9.8.8: a status for the whole resource gives no PropStat.
    {"rfc4918_copy_locked.xml", R"(response "http://www.example.com/othercontainer/R2/")"},
    // RFC 4918 section 9.6.2.
    {"rfc4918_delete_locked.xml", R"(response "http://www.example.com/container/resource3")"},
    // RFC 4918 section 9.10.9.
    {"rfc4918_lock_multi_resource.xml", R"(response "http://example.com/webdav/secret"
response "http://example.com/webdav/"
 propstat 424 "Failed Dependency"
   lockdiscovery)"},
    // RFC 4918 section 15.8.1: an owner of plain text.
    {"rfc4918_lockdiscovery.xml", R"(response "http://www.example.com/container/"
 propstat 200 "OK"
   lockdiscovery
   activelock exclusive/write depth=0 owner="Jane Smith" timeout="Infinite" token="urn:uuid:f81de2ad-7f3d-a1b2-4f3c-00a0c91a9d76")"},
    // RFC 4918 section 9.9.6.
    {"rfc4918_move_locked.xml", R"(response "http://www.example.com/othercontainer/C2/")"},
    // RFC 4918 section 9.1.5: dates with zones, white space kept in copied properties.
    {"rfc4918_propfind_allprop.xml", R"(response "/container/"
 propstat 200 "OK"
   created 1997-12-02T01:42:21Z
   name "Example collection"
   collection 1
   supportedlock exclusive/write shared/write
   other {http://ns.example.com/boxschema/}bigbox({http://ns.example.com/boxschema/}BoxType="Box type A")
   other {http://ns.example.com/boxschema/}author({http://ns.example.com/boxschema/}Name="Hadrian")
response "/container/front.html"
 propstat 200 "OK"
   created 1997-12-02T02:27:21Z
   modified 1998-01-12T09:25:56Z
   name "Example HTML resource"
   length 4525
   type "text/html"
   supportedlock exclusive/write shared/write
   other {http://ns.example.com/boxschema/}bigbox="\n        "({http://ns.example.com/boxschema/}BoxType="Box type B")
   other {DAV:}getetag="\"zzyzx\"")"},
    // RFC 4918 section 9.1.3: the responsedescription elements are not read.
    {"rfc4918_propfind_named.xml", R"(response "http://www.example.com/file"
 propstat 200 "OK"
   other {http://ns.example.com/boxschema/}bigbox="\n          \n        "({http://ns.example.com/boxschema/}BoxType="Box type A")
   other {http://ns.example.com/boxschema/}author="\n          \n        "({http://ns.example.com/boxschema/}Name="J.J. Johnson")
 propstat 403 "Forbidden"
   other {http://ns.example.com/boxschema/}DingALing
   other {http://ns.example.com/boxschema/}Random)"},
    // RFC 4918 section 9.1.4: empty elements set nothing, an empty supportedlock is
    // an empty list.
    {"rfc4918_propfind_propname.xml", R"(response "http://www.example.com/container/"
 propstat 200 "OK"
   supportedlock
   other {http://ns.example.com/boxschema/}bigbox
   other {http://ns.example.com/boxschema/}author
response "http://www.example.com/container/front.html"
 propstat 200 "OK"
   supportedlock
   other {http://ns.example.com/boxschema/}bigbox
   other {DAV:}getetag)"},
    // RFC 4918 section 9.2.2.
    {"rfc4918_proppatch.xml", R"(response "http://www.example.com/bar.html"
 propstat 424 "Failed Dependency"
   other {http://ns.example.com/standards/z39.50/}Authors
 propstat 409 "Conflict"
   other {http://ns.example.com/standards/z39.50/}Copyright-Owner)"},
    // RFC 4918 section 15.10.1.
    {"rfc4918_supportedlock.xml", R"(response "http://www.example.com/container/"
 propstat 200 "OK"
   supportedlock exclusive/write shared/write)"},
};

TEST(MultistatusFixtures, EachBodyParsesToTheRecordsItHolds) {
    for (const Fixture& fixture : kFixtures) {
        std::string body = testsupport::ReadMultistatusFixture(fixture.file);
        ASSERT_FALSE(body.empty()) << fixture.file;
        BodyBufferPtr buffer = testsupport::BodyOf(body);
        Multistatus* multistatus = nullptr;
        ASSERT_EQ(ParseMultistatus(&multistatus, buffer.get()), 0) << fixture.file;
        MultistatusPtr held(multistatus);
        EXPECT_EQ(testsupport::TraceMultistatus(*multistatus), fixture.trace) << fixture.file;
    }
}

// What the listing reads of Apache's answer: the 200 props of each entry and the owner of an
// exclusive write lock.
TEST(MultistatusFixtures, ApacheListingGivesPropsAndTheLockOwner) {
    BodyBufferPtr buffer =
        testsupport::BodyOf(testsupport::ReadMultistatusFixture("apache_propfind_depth1.xml"));
    Multistatus* multistatus = nullptr;
    ASSERT_EQ(ParseMultistatus(&multistatus, buffer.get()), 0);
    MultistatusPtr held(multistatus);
    std::string owners;
    for (const DavResponse* response = multistatus->responses.first; response != nullptr;
         response = response->next) {
        const DavProps* props = FindPropsByStatus(response, 200, 200);
        ASSERT_NE(props, nullptr) << response->href;
        const ActiveLock* lock = FindActiveLock(props, LockScopeExclusive, LockTypeWrite);
        owners += std::string(response->href) + "=" + (lock != nullptr ? lock->owner : "-") + " ";
    }
    EXPECT_EQ(owners,
              "/=- /readme.txt=mailto:anna@example.com /Notizen%20%c3%a4.txt=- "
              "/Ordner%20mit%20%c3%9cmlaut/=- /leer.bin=- ");
}

}  // namespace
}  // namespace vodarezazuv
