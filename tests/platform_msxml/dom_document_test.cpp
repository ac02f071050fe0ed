// The DOM document class as a client sees it: created through CoCreateInstance, built node by node, saved
// to a file that xmllint accepts; what XML cannot hold is refused without touching the tree.

#include "msxml.h"
#include "objbase.h"
#include "oleauto.h"
#include "qv_child_process.h"
#include "qv_temp_root.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// A COM reference released at the end of its scope.
template <typename T>
struct Ref {
    T* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (p != nullptr) p->Release();
    }
    T* operator->() const { return p; }
    T** out() { return &p; }
};

struct Text {
    BSTR b;
    explicit Text(const wchar_t* text) : b(SysAllocString(text)) {}
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text() { SysFreeString(b); }
    operator BSTR() const { return b; }
};

VARIANT Number(LONG n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

std::wstring Markup(IXMLDOMNode* node) {
    BSTR xml = nullptr;
    EXPECT_EQ(node->get_xml(&xml), S_OK);
    std::wstring text = xml != nullptr ? xml : L"";
    SysFreeString(xml);
    return text;
}

std::string Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class DomDocumentTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        ASSERT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                   reinterpret_cast<void**>(doc_.out())),
                  S_OK);
    }
    void TearDown() override {
        if (doc_.p != nullptr) doc_.p->Release();
        doc_.p = nullptr;
        CoUninitialize();
        TempRootTest::TearDown();
    }
    IXMLDOMElement* Element(const wchar_t* name) {
        IXMLDOMElement* element = nullptr;
        EXPECT_EQ(doc_->createElement(Text(name), &element), S_OK);
        return element;
    }
    IXMLDOMText* TextNode(const wchar_t* data) {
        IXMLDOMText* text = nullptr;
        EXPECT_EQ(doc_->createTextNode(Text(data), &text), S_OK);
        return text;
    }

    Ref<IXMLDOMDocument> doc_;
};

TEST_F(DomDocumentTest, BuildsElementByElementAndSavesWellFormedXml) {
    Ref<IXMLDOMElement> root, setting, name;
    Ref<IXMLDOMText> text, first, second;
    root.p = Element(L"BiosConfig");
    setting.p = Element(L"Setting");
    name.p = Element(L"Name");
    text.p = TextNode(L"Fan & <CPU> \u00e9");
    ASSERT_EQ(setting->setAttribute(Text(L"Menu.0"), Number(-1)), S_OK);
    VARIANT quoted;
    VariantInit(&quoted);
    quoted.vt = VT_BSTR;
    quoted.bstrVal = SysAllocString(L"say \"x\" & 'y'");
    ASSERT_EQ(setting->setAttribute(Text(L"Type"), quoted), S_OK);
    VariantClear(&quoted);
    ASSERT_EQ(name->appendChild(text.p, nullptr), S_OK);
    ASSERT_EQ(setting->appendChild(name.p, nullptr), S_OK);
    // Two text nodes side by side stay two nodes, each still usable through its own object.
    first.p = TextNode(L"a");
    second.p = TextNode(L"b");
    ASSERT_EQ(root->appendChild(setting.p, nullptr), S_OK);
    ASSERT_EQ(setting->appendChild(first.p, nullptr), S_OK);
    ASSERT_EQ(setting->appendChild(second.p, nullptr), S_OK);
    LONG length = 0;
    ASSERT_EQ(second->get_length(&length), S_OK);
    EXPECT_EQ(length, 1);
    Ref<IXMLDOMNode> appended;
    ASSERT_EQ(doc_->appendChild(root.p, appended.out()), S_OK);
    EXPECT_EQ(static_cast<void*>(appended.p), static_cast<void*>(static_cast<IXMLDOMNode*>(root.p)));

    VARIANT value;
    ASSERT_EQ(setting->getAttribute(Text(L"Menu.0"), &value), S_OK);
    EXPECT_EQ(value.vt, VT_BSTR);
    EXPECT_STREQ(value.bstrVal, L"-1");
    VariantClear(&value);
    EXPECT_EQ(setting->getAttribute(Text(L"ReadOnly"), &value), S_FALSE);
    EXPECT_EQ(value.vt, VT_NULL);
    EXPECT_EQ(Markup(root.p),
              L"<BiosConfig><Setting Menu.0=\"-1\" Type=\"say &quot;x&quot; &amp; 'y'\"><Name>Fan &amp; "
              L"&lt;CPU&gt; \u00e9</Name>ab</Setting></BiosConfig>");

    // A Windows path lands on the emulated drive; the file is UTF-8 and xmllint accepts it.
    VARIANT path;
    VariantInit(&path);
    path.vt = VT_BSTR;
    path.bstrVal = SysAllocString(L"C:\\config.xml");
    ASSERT_EQ(doc_->save(path), S_OK);
    VariantClear(&path);
    std::filesystem::path saved = root_ / "drive_c" / "config.xml";
    std::string bytes = Contents(saved);
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BiosConfig>", 0), 0u) << bytes;
    EXPECT_NE(bytes.find("<Name>Fan &amp; &lt;CPU&gt; \xc3\xa9</Name>"), std::string::npos) << bytes;
    pid_t lint = StartChild({"/usr/bin/xmllint", "--noout", saved.string()}, root_ / "lint.out", root_ / "lint.err");
    EXPECT_EQ(WaitChild(lint, std::chrono::seconds(30)), 0) << Contents(root_ / "lint.err");
}

TEST_F(DomDocumentTest, RefusesWhatXmlCannotHold) {
    IXMLDOMElement* element = reinterpret_cast<IXMLDOMElement*>(1);
    EXPECT_EQ(doc_->createElement(Text(L"1st"), &element), E_FAIL);
    EXPECT_EQ(element, nullptr);
    EXPECT_EQ(doc_->createElement(Text(L""), &element), E_FAIL);
    IXMLDOMText* text = nullptr;
    EXPECT_EQ(doc_->createTextNode(Text(L"bell \x07"), &text), E_INVALIDARG);
    EXPECT_EQ(text, nullptr);

    Ref<IXMLDOMElement> root, child, other_root;
    Ref<IXMLDOMText> words;
    root.p = Element(L"Root");
    child.p = Element(L"Child");
    words.p = TextNode(L"words");
    EXPECT_EQ(child->setAttribute(Text(L"bad name"), Number(1)), E_FAIL);
    VARIANT control;
    VariantInit(&control);
    control.vt = VT_BSTR;
    control.bstrVal = SysAllocString(L"\x01");
    EXPECT_EQ(child->setAttribute(Text(L"Value"), control), E_INVALIDARG);
    VariantClear(&control);

    EXPECT_EQ(root->appendChild(nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(doc_->appendChild(words.p, nullptr), E_FAIL);   // a document holds elements only
    EXPECT_EQ(words->appendChild(child.p, nullptr), E_FAIL);  // a text holds nothing
    ASSERT_EQ(root->appendChild(child.p, nullptr), S_OK);
    EXPECT_EQ(child->appendChild(root.p, nullptr), E_FAIL);  // its own ancestor
    EXPECT_EQ(child->appendChild(child.p, nullptr), E_FAIL);
    ASSERT_EQ(doc_->appendChild(root.p, nullptr), S_OK);
    other_root.p = Element(L"Second");
    EXPECT_EQ(doc_->appendChild(other_root.p, nullptr), E_FAIL);  // one root element

    Ref<IXMLDOMDocument> other;
    ASSERT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                               reinterpret_cast<void**>(other.out())),
              S_OK);
    Ref<IXMLDOMElement> foreign;
    ASSERT_EQ(other->createElement(Text(L"Foreign"), foreign.out()), S_OK);
    EXPECT_EQ(root->appendChild(foreign.p, nullptr), E_INVALIDARG);
    EXPECT_EQ(Markup(doc_.p), L"<Root><Child/></Root>\n");

    // Saving: a folder is not a file, and an empty document has nothing to save.
    VARIANT path;
    VariantInit(&path);
    path.vt = VT_BSTR;
    path.bstrVal = SysAllocString(qv::win::FromUtf8(root_.string()).c_str());
    EXPECT_TRUE(FAILED(doc_->save(path)));
    VariantClear(&path);
    path.vt = VT_BSTR;
    path.bstrVal = SysAllocString(qv::win::FromUtf8((root_ / "empty.xml").string()).c_str());
    EXPECT_EQ(other->save(path), E_FAIL);
    EXPECT_FALSE(std::filesystem::exists(root_ / "empty.xml"));
    VariantClear(&path);
    EXPECT_EQ(doc_->save(Number(3)), E_INVALIDARG);
}

// A node object keeps working after the objects of its parents are gone; nodes never appended are freed with
// the document (the sanitizer build sees a leak or a use after free).
TEST_F(DomDocumentTest, NodeObjectsOutliveTheirParentsObjects) {
    Ref<IXMLDOMText> kept;
    {
        Ref<IXMLDOMElement> parent, dropped;
        parent.p = Element(L"Parent");
        dropped.p = Element(L"NeverAppended");
        kept.p = TextNode(L"kept");
        ASSERT_EQ(parent->appendChild(kept.p, nullptr), S_OK);
    }
    EXPECT_EQ(Markup(kept.p), L"kept");
    doc_.p->Release();
    doc_.p = nullptr;  // the text's object still holds the document
    BSTR data = nullptr;
    ASSERT_EQ(kept->get_data(&data), S_OK);
    EXPECT_STREQ(data, L"kept");
    SysFreeString(data);
}

}  // namespace
