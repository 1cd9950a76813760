// Class definitions from XML: which declaration each element becomes, with
// which arguments, in which order, and how refusals are reported.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "KernelWrapper.h"
#include "RecordingKernel.h"
#include "TempResources.h"
#include "World.h"

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace {

// The log texts are GBK; write the expectations in readable UTF-8 and let the
// C library convert them, independently of how the loader spells its bytes.
std::string Gbk(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == iconv_t(-1)) return "<no GBK converter>";
    std::string in = utf8;
    std::string out(in.size() * 2 + 8, '\0');
    char* src = in.data();
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == size_t(-1)) return "<not convertible>";
    out.resize(out.size() - dstLeft);
    return out;
}

class ClassXml : public ::testing::Test {
protected:
    ClassXml() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/class_xml_XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) != nullptr) m_dir = buf.data();
        kernel.resourcePath = m_dir + "/";
    }
    ~ClassXml() override {
        for (auto it = m_made.rbegin(); it != m_made.rend(); ++it)
            if (::unlink(it->c_str()) != 0) ::rmdir(it->c_str());
        ::rmdir(m_dir.c_str());
    }

    // Writes the file under the resource dir; name uses '/' here.
    void Write(const std::string& name, const std::string& text) {
        std::string sofar;
        for (size_t slash = name.find('/'); slash != std::string::npos;
             slash = name.find('/', slash + 1)) {
            const std::string dir = m_dir + "/" + name.substr(0, slash);
            if (::mkdir(dir.c_str(), 0700) == 0) m_made.push_back(dir);
        }
        const std::string full = m_dir + "/" + name;
        std::FILE* fp = std::fopen(full.c_str(), "wb");
        ASSERT_NE(fp, nullptr);
        std::fwrite(text.data(), 1, text.size(), fp);
        std::fclose(fp);
        m_made.push_back(full);
    }

    // Loads a document made of the given properties and records.
    bool Load(const std::string& properties, const std::string& records, int classIndex = 7) {
        Write("c.xml", "<?xml version=\"1.0\"?>\n<Object>\n<BaseProperties>\n" + properties +
                           "</BaseProperties>\n<RecordProperties>\n" + records +
                           "</RecordProperties>\n</Object>\n");
        return OnCreateClassFromXml(&kernel, classIndex, "c.xml");
    }

    // Declarations only: no path query, no logging.
    std::vector<std::string> Declarations() const {
        return kernel.Texts({"AddProperty", "AddPropertySaveMode", "AddVisibleProperty",
                             "AddVisiblePropertySaveMode", "AddRecord", "AddRecordSaveMode",
                             "SetRecordColType", "SetRecordVisible"});
    }
    std::vector<std::string> Logs() const {
        std::vector<std::string> out;
        for (const Call& c : kernel.Calls())
            if (c.op == "Echo" || c.op == "Trace") out.push_back(c.op + ":" + c.args[0]);
        return out;
    }

    RecordingKernel kernel;

private:
    std::string m_dir;
    std::vector<std::string> m_made;
};

// ---- attribute readers -----------------------------------------------------------

TEST(ClassXmlAttributes, BooleansAreTrueOnlyForTrueOrOne) {
    for (const char* yes : {"true", "TRUE", "True", "tRuE", "1"}) EXPECT_TRUE(ParseXmlBool(yes));
    for (const char* no : {"yes", "0", "", " true", "true ", "01", "1.0", "truex", "t"})
        EXPECT_FALSE(ParseXmlBool(no)) << no;
    EXPECT_FALSE(ParseXmlBool(nullptr));
}

TEST(ClassXmlAttributes, TypeNamesMapIgnoringCase) {
    EXPECT_EQ(XmlTypeCode("int"), 2);
    EXPECT_EQ(XmlTypeCode("INT"), 2);
    EXPECT_EQ(XmlTypeCode("Byte"), 2);
    EXPECT_EQ(XmlTypeCode("word"), 2);
    EXPECT_EQ(XmlTypeCode("DWord"), 2);
    EXPECT_EQ(XmlTypeCode("Float"), 3);
    EXPECT_EQ(XmlTypeCode("STRING"), 4);
    EXPECT_EQ(XmlTypeCode("WString"), 5);
    EXPECT_EQ(XmlTypeCode("object"), 6);
    EXPECT_EQ(XmlTypeCode("Bool"), 1);
    for (const char* other : {"double", "int64", "", "in", "ints", " int", "\xC8\xCB"})
        EXPECT_EQ(XmlTypeCode(other), 0) << other;
    EXPECT_EQ(XmlTypeCode(nullptr), 0);
}

// ---- properties ------------------------------------------------------------------

TEST_F(ClassXml, PlainPropertiesInDocumentOrder) {
    ASSERT_TRUE(
        Load("<Property Id=\"Level\" Type=\"Int\" Save=\"true\" Description=\"lvl\"/>\n"
             "<Property Id=\"Rate\" Type=\"FLOAT\"/>\n"
             "<Property Id=\"Name\" Type=\"wstring\" Save=\"yes\"/>\n",
             ""));
    EXPECT_THAT(Declarations(), ElementsAre("AddProperty(7, Level, 2, true, lvl)",
                                            "AddProperty(7, Rate, 3, false, )",
                                            "AddProperty(7, Name, 5, false, )"));
    EXPECT_THAT(Logs(), IsEmpty());
}

TEST_F(ClassXml, SaveModesFollowColThenXml) {
    ASSERT_TRUE(
        Load("<Property Id=\"A\" Type=\"int\" Save=\"1\" Col=\"TRUE\"/>\n"
             "<Property Id=\"B\" Type=\"int\" Save=\"true\" Xml=\"true\"/>\n"
             "<Property Id=\"C\" Type=\"int\" Save=\"true\" Col=\"1\" Xml=\"1\"/>\n"
             "<Property Id=\"D\" Type=\"int\" Col=\"true\" Xml=\"true\"/>\n"
             "<Property Id=\"E\" Type=\"int\" Save=\"true\" Col=\"no\" Xml=\"0\"/>\n",
             ""));
    EXPECT_THAT(
        Declarations(),
        ElementsAre("AddPropertySaveMode(7, A, 2, 2, )", "AddPropertySaveMode(7, B, 2, 3, )",
                    "AddPropertySaveMode(7, C, 2, 2, )", "AddProperty(7, D, 2, false, )",
                    "AddProperty(7, E, 2, true, )"));
}

TEST_F(ClassXml, VisiblePropertiesCarryFlagsAndEmptyText) {
    ASSERT_TRUE(
        Load("<Property Id=\"P\" Type=\"string\" Public=\"true\"/>\n"
             "<Property Id=\"Q\" Type=\"string\" Private=\"1\" Save=\"true\"/>\n"
             "<Property Id=\"R\" Type=\"object\" Public=\"1\" Private=\"true\" "
             "Save=\"true\" Col=\"true\" Description=\"both\"/>\n"
             "<Property Id=\"S\" Type=\"bool\" Private=\"true\" Save=\"1\" Xml=\"1\"/>\n"
             "<Property Id=\"T\" Type=\"int\" Public=\"false\" Private=\"no\"/>\n",
             ""));
    EXPECT_THAT(Declarations(),
                ElementsAre("AddVisibleProperty(7, P, 4, , true, false, false, )",
                            "AddVisibleProperty(7, Q, 4, , false, true, true, )",
                            "AddVisiblePropertySaveMode(7, R, 6, , true, true, 2, both)",
                            "AddVisiblePropertySaveMode(7, S, 1, , false, true, 3, )",
                            "AddProperty(7, T, 2, false, )"));
}

TEST_F(ClassXml, MissingIdAndTypeGiveEmptyNameAndCodeZero) {
    ASSERT_TRUE(Load("<Property Save=\"true\"/>\n<Property Id=\"X\" Type=\"double\"/>\n", ""));
    EXPECT_THAT(Declarations(),
                ElementsAre("AddProperty(7, , 0, true, )", "AddProperty(7, X, 0, false, )"));
}

TEST_F(ClassXml, OnlyPropertyElementsOfTheFirstSectionCount) {
    Write(
        "c.xml",
        "<Object>\n<!-- Property -->\n<BaseProperties>\n"
        "<Property Id=\"A\" Type=\"int\"/>\n<Note Id=\"N\"/>\n<!-- comment -->\n"
        "<Property Id=\"B\" Type=\"int\"><Property Id=\"Inner\"/></Property>\n"
        "</BaseProperties>\n<BaseProperties><Property Id=\"Second\"/></BaseProperties>\n"
        "</Object>\n<Object><BaseProperties><Property Id=\"Other\"/></BaseProperties></Object>\n");
    // Two root elements make a malformed document for some parsers; this
    // one accepts it and only the first Object counts.
    if (!OnCreateClassFromXml(&kernel, 3, "c.xml")) GTEST_SKIP() << "second root refused";
    EXPECT_THAT(Declarations(),
                ElementsAre("AddProperty(3, A, 2, false, )", "AddProperty(3, B, 2, false, )"));
}

TEST_F(ClassXml, RefusedPropertyLogsFourLinesAndGoesOn) {
    kernel.Nth("AddProperty", 2, false);
    ASSERT_TRUE(
        Load("<Property Id=\"One\" Type=\"int\"/>\n<Property Id=\"Two\" Type=\"int\"/>\n"
             "<Property Id=\"Three\" Type=\"int\"/>\n",
             ""));
    EXPECT_THAT(
        kernel.Ops({"GetResourcePath"}),
        ElementsAre("AddProperty", "AddProperty", "Echo", "Echo", "Trace", "Trace", "AddProperty"));
    const std::string message = Gbk("OnCreateClassFromXml失败: xml=c.xml, id=Two");
    const auto logs = Logs();
    ASSERT_EQ(logs.size(), 4u);
    EXPECT_EQ(logs[0], "Echo:" + message);
    EXPECT_THAT(logs[1], ::testing::MatchesRegex("Echo:Utility/KernelWrapper\\.cpp \\([0-9]+\\)"));
    EXPECT_EQ(logs[2], "Trace:" + message);
    EXPECT_EQ(logs[3], "Trace:" + logs[1].substr(5));
}

TEST_F(ClassXml, EveryKindOfPropertyRefusalIsReported) {
    for (const char* op :
         {"AddPropertySaveMode", "AddVisibleProperty", "AddVisiblePropertySaveMode"})
        kernel.Always(op, false);
    ASSERT_TRUE(
        Load("<Property Id=\"A\" Save=\"1\" Xml=\"1\"/>\n"
             "<Property Id=\"B\" Public=\"1\"/>\n"
             "<Property Id=\"C\" Private=\"1\" Save=\"1\" Col=\"1\"/>\n",
             ""));
    EXPECT_EQ(kernel.Count("Echo"), 6u);
    EXPECT_EQ(kernel.Count("Trace"), 6u);
    EXPECT_THAT(kernel.CallsOf("Trace")[4]->args[0], EndsWith("xml=c.xml, id=C"));
}

// ---- records ---------------------------------------------------------------------

TEST_F(ClassXml, RecordsWithColumnsAndVisibility) {
    ASSERT_TRUE(Load("",
                     "<Record Id=\"ModelInfoRec\" Cols=\"2\" MaxRows=\"64\" Save=\"true\" "
                     "Visible=\"true\">\n<Column Type=\"int\"/>\n<Column Type=\"Float\"/>\n"
                     "</Record>\n"
                     "<Record Id=\"NPCInfoRec\" Cols=\"1\" MaxRows=\"10\" Save=\"1\" Col=\"1\">"
                     "<Column Type=\"string\"/></Record>\n"
                     "<Record Id=\"Tmp\" Cols=\"0\" MaxRows=\"0\" Xml=\"true\" Save=\"1\"/>\n",
                     4));
    EXPECT_THAT(Declarations(), ElementsAre("AddRecord(4, ModelInfoRec, 2, 64, true)",
                                            "SetRecordColType(4, ModelInfoRec, 0, 2)",
                                            "SetRecordColType(4, ModelInfoRec, 1, 3)",
                                            "SetRecordVisible(4, ModelInfoRec, ModelInfoRec)",
                                            "AddRecordSaveMode(4, NPCInfoRec, 1, 10, 2)",
                                            "SetRecordColType(4, NPCInfoRec, 0, 4)",
                                            "AddRecord(4, Tmp, 0, 0, true)"));
}

TEST_F(ClassXml, ColumnsAreCountedIndependentlyOfCols) {
    ASSERT_TRUE(Load("",
                     "<Record Id=\"R\" Cols=\"3\" MaxRows=\"5\">"
                     "<Column Type=\"int\"/><Column Type=\"wstring\"/><Other Type=\"int\"/>"
                     "<Column Type=\"object\"/><Column/><Column Type=\"BOOL\"/></Record>\n"));
    EXPECT_THAT(Declarations(),
                ElementsAre("AddRecord(7, R, 3, 5, false)", "SetRecordColType(7, R, 0, 2)",
                            "SetRecordColType(7, R, 1, 5)", "SetRecordColType(7, R, 2, 6)",
                            "SetRecordColType(7, R, 3, 0)", "SetRecordColType(7, R, 4, 1)"));
}

TEST_F(ClassXml, RecordWithoutNumericSizeIsSkippedSilently) {
    ASSERT_TRUE(Load("",
                     "<Record Id=\"A\" Cols=\"2\" MaxRows=\"many\" Visible=\"1\">"
                     "<Column Type=\"int\"/></Record>\n"
                     "<Record Id=\"B\" MaxRows=\"4\"><Column Type=\"int\"/></Record>\n"
                     "<Record Id=\"C\" Cols=\"\" MaxRows=\"4\"/>\n"
                     "<Record Id=\"D\" Cols=\"12abc\" MaxRows=\" 9\"/>\n"));
    EXPECT_THAT(kernel.Ops(), ElementsAre("GetResourcePath", "AddRecord"));
    EXPECT_THAT(Declarations(), ElementsAre("AddRecord(7, D, 12, 9, false)"));
}

TEST_F(ClassXml, RefusedRecordStillGetsColumnsAndVisibility) {
    kernel.Always("AddRecord", false);
    kernel.Always("SetRecordVisible", false);
    kernel.Nth("SetRecordColType", 2, false);
    ASSERT_TRUE(Load("",
                     "<Record Id=\"R\" Cols=\"3\" MaxRows=\"5\" Visible=\"TRUE\">"
                     "<Column Type=\"int\"/><Column Type=\"int\"/><Column Type=\"int\"/>"
                     "</Record>\n"));
    EXPECT_THAT(kernel.Ops({"GetResourcePath"}),
                ElementsAre("AddRecord", "Echo", "Echo", "Trace", "Trace",         //
                            "SetRecordColType",                                    //
                            "SetRecordColType", "Echo", "Echo", "Trace", "Trace",  //
                            "SetRecordColType",                                    //
                            "SetRecordVisible", "Echo", "Echo", "Trace", "Trace"));
    EXPECT_THAT(kernel.Texts({"SetRecordColType"}),
                ElementsAre("SetRecordColType(7, R, 0, 2)", "SetRecordColType(7, R, 1, 2)",
                            "SetRecordColType(7, R, 2, 2)"));
    const auto traces = kernel.CallsOf("Trace");
    ASSERT_EQ(traces.size(), 6u);
    EXPECT_EQ(traces[0]->args[0], Gbk("OnCreateClassFromXml失败: 添加表失败:[R] c.xml"));
    EXPECT_EQ(traces[2]->args[0],
              Gbk("OnCreateClassFromXml失败: 设置表的列类型失败:[R] [1] c.xml"));
    EXPECT_EQ(traces[4]->args[0], Gbk("OnCreateClassFromXml失败: 设置表的可见失败:[R] c.xml"));
}

TEST_F(ClassXml, RefusedSaveModeRecordIsReported) {
    kernel.Always("AddRecordSaveMode", false);
    ASSERT_TRUE(Load("", "<Record Id=\"S\" Cols=\"1\" MaxRows=\"1\" Save=\"1\" Col=\"1\"/>\n"));
    EXPECT_EQ(kernel.CallsOf("Echo")[0]->args[0],
              Gbk("OnCreateClassFromXml失败: 添加表失败:[S] c.xml"));
}

TEST_F(ClassXml, MissingSectionsDeclareNothingForThatHalf) {
    Write("props.xml", "<Object><BaseProperties><Property Id=\"P\"/></BaseProperties></Object>");
    Write("recs.xml",
          "<Object><RecordProperties><Record Id=\"R\" Cols=\"1\" MaxRows=\"1\"/>"
          "</RecordProperties></Object>");
    Write("none.xml", "<Thing><BaseProperties><Property Id=\"P\"/></BaseProperties></Thing>");
    EXPECT_TRUE(OnCreateClassFromXml(&kernel, 1, "props.xml"));
    EXPECT_TRUE(OnCreateClassFromXml(&kernel, 2, "recs.xml"));
    EXPECT_TRUE(OnCreateClassFromXml(&kernel, 3, "none.xml"));
    EXPECT_THAT(Declarations(),
                ElementsAre("AddProperty(1, P, 0, false, )", "AddRecord(2, R, 1, 1, false)"));
    EXPECT_THAT(Logs(), IsEmpty());
}

// ---- files -----------------------------------------------------------------------

TEST_F(ClassXml, UnreadableOrMalformedFileFailsQuietly) {
    EXPECT_FALSE(OnCreateClassFromXml(&kernel, 1, "absent.xml"));
    Write("broken.xml", "<Object><BaseProperties><Property Id=\"P\"/></Base");
    EXPECT_FALSE(OnCreateClassFromXml(&kernel, 1, "broken.xml"));
    Write("empty.xml", "");
    EXPECT_FALSE(OnCreateClassFromXml(&kernel, 1, "empty.xml"));
    Write("dir.xml/inner.txt", "x");  // a directory where the file should be
    EXPECT_FALSE(OnCreateClassFromXml(&kernel, 1, "dir.xml"));
    EXPECT_THAT(kernel.Ops(), ElementsAre("GetResourcePath", "GetResourcePath", "GetResourcePath",
                                          "GetResourcePath"));
}

TEST_F(ClassXml, FileEndingInsideAMultiByteCharacterIsReadInBounds) {
    // A UTF-8 document cut off right after the lead byte of a two-, three- or
    // four-byte character, in an attribute value and in element text. The
    // parser steps over the whole announced character, past the end of the
    // text; the document must still read as malformed, and under the address
    // sanitizer a copy from past the file's bytes fails this test.
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Object><BaseProperties>";
    int n = 0;
    for (const char* lead : {"\xC3", "\xE4", "\xF0", "\xE4\xB8"}) {
        for (const std::string& cut :
             {head + "<Property Id=\"" + lead, head + "<Property Id=\"P\">" + lead,
              head + "<Property Id=\"P\" Description=\"a" + lead}) {
            const std::string name = "cut" + std::to_string(n++) + ".xml";
            Write(name, cut);
            EXPECT_FALSE(OnCreateClassFromXml(&kernel, 1, name.c_str())) << name;
        }
    }
    EXPECT_THAT(Declarations(), IsEmpty());
    EXPECT_THAT(Logs(), IsEmpty());
}

TEST_F(ClassXml, LineEndsBecomeLineFeedsAndTextStopsAtNul) {
    // CR LF and a lone CR read as LF, as the class files written on any
    // system expect; bytes after a NUL are not part of the document.
    Write("ends.xml", std::string("<Object>\r\n<BaseProperties>\r"
                                  "<Property Id=\"P\" Description=\"a\r\nb\rc\"/>\r\n"
                                  "</BaseProperties></Object>\r\n") +
                          '\0' + "<Object><BaseProperties><Property Id=\"Hidden\"/>");
    kernel.Always("AddProperty", false);
    ASSERT_TRUE(OnCreateClassFromXml(&kernel, 2, "ends.xml"));
    EXPECT_THAT(Declarations(), ElementsAre("AddProperty(2, P, 0, false, a\nb\nc)"));
}

TEST_F(ClassXml, CharacterCutByNulDoesNotReadOnPastIt) {
    // The parser steps over a UTF-8 character by the length its lead byte
    // announces. A lead byte right before a NUL must not carry it past the
    // end of the text into what follows.
    for (const char* lead : {"\xC3", "\xE4", "\xF0"}) {
        Write("cut.xml", std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Object>"
                                     "<BaseProperties><Property Id=\"P\" Description=\"") +
                             lead + '\0' +
                             "\"\"\"/><Property Id=\"Smuggled\"/>"
                             "</BaseProperties></Object>\n");
        EXPECT_FALSE(OnCreateClassFromXml(&kernel, 1, "cut.xml")) << int(lead[0] & 0xff);
    }
    EXPECT_THAT(Declarations(), IsEmpty());
}

TEST_F(ClassXml, FileOf2GiBIsRefusedUnread) {
    // Sparse: a valid document at the start, then a hole up to 2 GiB.
    Write("huge.xml", "<Object><BaseProperties><Property Id=\"P\"/></BaseProperties></Object>");
    const std::string path = kernel.resourcePath + "huge.xml";
    if (::truncate(path.c_str(), off_t(1) << 31) != 0) GTEST_SKIP() << "no sparse files here";
    EXPECT_FALSE(OnCreateClassFromXml(&kernel, 1, "huge.xml"));
    EXPECT_THAT(kernel.Ops(), ElementsAre("GetResourcePath"));
}

TEST_F(ClassXml, PathIsResourceDirPlusBackslashedName) {
    Write("Struct/NPC/NpcCreator.xml",
          "<Object><BaseProperties><Property Id=\"CreatorType\" Type=\"int\"/>"
          "</BaseProperties></Object>");
    kernel.Always("AddProperty", false);
    ASSERT_TRUE(OnCreateClassFromXml(&kernel, 5, "Struct\\NPC\\NpcCreator.xml"));
    EXPECT_THAT(Declarations(), ElementsAre("AddProperty(5, CreatorType, 2, false, )"));
    // Logged as written.
    EXPECT_EQ(
        kernel.CallsOf("Echo")[0]->args[0],
        Gbk("OnCreateClassFromXml失败: xml=") + "Struct\\NPC\\NpcCreator.xml, id=CreatorType");
}

TEST_F(ClassXml, NarrowBytesPassThroughUnchanged) {
    // A document declared in a legacy code page: attribute bytes (here GBK)
    // reach the kernel as written, entities decoded.
    Write("gbk.xml",
          "<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<Object><BaseProperties>"
          "<Property Id=\"\xC3\xFB\" Description=\"\xB9\xD6\xCE\xEF &amp; co\"/>"
          "</BaseProperties></Object>\n");
    kernel.Always("AddProperty", false);
    ASSERT_TRUE(OnCreateClassFromXml(&kernel, 7, "gbk.xml"));
    EXPECT_THAT(Declarations(),
                ElementsAre("AddProperty(7, \xC3\xFB, 0, false, \xB9\xD6\xCE\xEF & co)"));
    EXPECT_THAT(kernel.CallsOf("Echo")[0]->args[0], EndsWith("xml=gbk.xml, id=\xC3\xFB"));
}

TEST_F(ClassXml, NullArgumentsAreRefused) {
    EXPECT_FALSE(OnCreateClassFromXml(nullptr, 1, "c.xml"));
    EXPECT_FALSE(OnCreateClassFromXml(&kernel, 1, nullptr));
    EXPECT_THAT(kernel.Calls(), IsEmpty());
}

// ---- end to end -------------------------------------------------------------------

// The real plug-in in the reference host, with the shipped class file: the
// host holds NpcCreator's layout as the file declares it.
TEST(ClassXmlEndToEnd, HostHoldsNpcCreatorAsTheClassFileDeclares) {
    host::WorldOptions options;
    options.pluginPath = TEST_PLUGIN_PATH;
    options.resourceDir = TEST_RESOURCES_DIR;
    options.quiet = true;
    host::World world(options);
    ASSERT_TRUE(world.Start()) << world.error();

    world.Run([](host::Kernel& k) {
        const host::ClassInfo* cls = k.GetClassInfo("NpcCreator");
        ASSERT_NE(cls, nullptr);
        ASSERT_TRUE(cls->created);

        std::vector<std::string> names;
        for (const host::PropertyDecl& p : cls->properties) names.push_back(p.name);
        EXPECT_THAT(
            names, ElementsAre("CreatorType", "SelectCount", "MaxSelectCount", "Invisible",
                               "CantVisible", "RefreshTime", "RefreshModelTime", "Model", "ModelEx",
                               "Index", "NpcConfig", "NPCDes", "NoticeByWorldRefresh",
                               "NoticeByWorldBeKilled", "CurNPCCount", "IsFighting", "FRTime"));

        const host::PropertyDecl* plain = k.FindPropertyDecl(cls->index, "CreatorType");
        ASSERT_NE(plain, nullptr);
        EXPECT_EQ(plain->type, 2);
        EXPECT_TRUE(plain->save);
        EXPECT_FALSE(plain->visible);

        const host::PropertyDecl* columns = k.FindPropertyDecl(cls->index, "SelectCount");
        ASSERT_NE(columns, nullptr);
        EXPECT_EQ(columns->saveMode, 2);
        EXPECT_TRUE(columns->visible);
        EXPECT_TRUE(columns->isPublic);
        EXPECT_FALSE(columns->isPrivate);

        const host::PropertyDecl* xml = k.FindPropertyDecl(cls->index, "FRTime");
        ASSERT_NE(xml, nullptr);
        EXPECT_EQ(xml->type, 4);
        EXPECT_EQ(xml->saveMode, 3);
        EXPECT_FALSE(xml->visible);

        const host::PropertyDecl* both = k.FindPropertyDecl(cls->index, "IsFighting");
        ASSERT_NE(both, nullptr);
        EXPECT_TRUE(both->isPublic);
        EXPECT_TRUE(both->isPrivate);
        EXPECT_FALSE(both->save);
        EXPECT_EQ(both->description, "1 while the last boss fight of the period is taken");

        std::vector<std::string> records;
        for (const host::RecordDecl& r : cls->records) records.push_back(r.name);
        EXPECT_THAT(records, ElementsAre("ModelInfoRec", "NPCInfoRec", "AutoTeamRec"));

        const host::RecordDecl* model = k.FindRecordDecl(cls->index, "ModelInfoRec");
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(model->cols, 4);
        EXPECT_EQ(model->maxRows, 64);
        EXPECT_THAT(model->colTypes, ElementsAre(2, 3, 4, 2));
        EXPECT_FALSE(model->save);
        EXPECT_FALSE(model->visible);

        const host::RecordDecl* team = k.FindRecordDecl(cls->index, "AutoTeamRec");
        ASSERT_NE(team, nullptr);
        EXPECT_THAT(team->colTypes, ElementsAre(5, 2));
        EXPECT_TRUE(team->visible);
        EXPECT_EQ(team->visibleName, "AutoTeamRec");
    });
    world.Stop();
}

// A class file nested 100,000 deep would overflow the parser's stack: it is
// refused unparsed like a malformed file, and the world goes on.
TEST(ClassXmlEndToEnd, DeeplyNestedClassFileDeclaresNothingAndTheWorldRuns) {
    TempResources res;
    std::string deep = "<Object>";
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    res.Write("Struct\\NPC\\NpcCreator.xml", deep);
    host::WorldOptions options;
    options.pluginPath = TEST_PLUGIN_PATH;
    options.resourceDir = res.Dir();
    options.quiet = true;
    host::World world(options);
    ASSERT_TRUE(world.Start()) << world.error();
    world.Run([](host::Kernel& k) {
        const host::ClassInfo* cls = k.GetClassInfo("NpcCreator");
        ASSERT_NE(cls, nullptr);
        EXPECT_TRUE(cls->properties.empty());
        EXPECT_TRUE(cls->records.empty());
        const ObjectId scene = k.CreateScene("s", 1);
        EXPECT_TRUE(k.Exists(k.CreatePlayer(u"Hero", 1, scene)));
    });
    world.Stop();
}

}  // namespace
