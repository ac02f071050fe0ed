// The DOM document class as a client sees it: created through CoCreateInstance, built node by node, saved
// to a file that xmllint accepts; what XML cannot hold is refused without touching the tree.

#include "msxml.h"
#include "objbase.h"
#include "atlbase.h"
#include "oleauto.h"
#include "qv_child_process.h"
#include "qv_temp_root.h"
#include "wrl/client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using ATL::CComBSTR;
using ATL::CComVariant;
using Microsoft::WRL::ComPtr;

CComVariant Number(int n) { return CComVariant(n); }

std::wstring Markup(IXMLDOMNode* node) {
    CComBSTR xml;
    EXPECT_EQ(node->get_xml(&xml), S_OK);
    return xml.m_str != nullptr ? xml.m_str : L"";
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
                                   reinterpret_cast<void**>(doc_.GetAddressOf())),
                  S_OK);
    }
    void TearDown() override {
        doc_.Reset();
        CoUninitialize();
        TempRootTest::TearDown();
    }
    ComPtr<IXMLDOMElement> Element(const wchar_t* name) {
        ComPtr<IXMLDOMElement> element;
        EXPECT_EQ(doc_->createElement(CComBSTR(name), element.GetAddressOf()), S_OK);
        return element;
    }
    ComPtr<IXMLDOMText> TextNode(const wchar_t* data) {
        ComPtr<IXMLDOMText> text;
        EXPECT_EQ(doc_->createTextNode(CComBSTR(data), text.GetAddressOf()), S_OK);
        return text;
    }

    ComPtr<IXMLDOMDocument> doc_;
};

TEST_F(DomDocumentTest, BuildsElementByElementAndSavesWellFormedXml) {
    ComPtr<IXMLDOMElement> root, setting, name;
    ComPtr<IXMLDOMText> text, first, second;
    root = Element(L"BiosConfig");
    setting = Element(L"Setting");
    name = Element(L"Name");
    text = TextNode(L"Fan & <CPU> \u00e9");
    ASSERT_EQ(setting->setAttribute(CComBSTR(L"Menu.0"), Number(-1)), S_OK);
    ASSERT_EQ(setting->setAttribute(CComBSTR(L"Type"), CComVariant(L"say \"x\" & 'y'")), S_OK);
    ASSERT_EQ(name->appendChild(text.Get(), nullptr), S_OK);
    ASSERT_EQ(setting->appendChild(name.Get(), nullptr), S_OK);
    // Two text nodes side by side stay two nodes, each still usable through its own object.
    first = TextNode(L"a");
    second = TextNode(L"b");
    ASSERT_EQ(root->appendChild(setting.Get(), nullptr), S_OK);
    ASSERT_EQ(setting->appendChild(first.Get(), nullptr), S_OK);
    ASSERT_EQ(setting->appendChild(second.Get(), nullptr), S_OK);
    LONG length = 0;
    ASSERT_EQ(second->get_length(&length), S_OK);
    EXPECT_EQ(length, 1);
    ComPtr<IXMLDOMNode> appended;
    ASSERT_EQ(doc_->appendChild(root.Get(), appended.GetAddressOf()), S_OK);
    EXPECT_EQ(static_cast<void*>(appended.Get()), static_cast<void*>(static_cast<IXMLDOMNode*>(root.Get())));

    CComVariant value;
    ASSERT_EQ(setting->getAttribute(CComBSTR(L"Menu.0"), &value), S_OK);
    EXPECT_EQ(value.vt, VT_BSTR);
    EXPECT_STREQ(value.bstrVal, L"-1");
    value.Clear();
    EXPECT_EQ(setting->getAttribute(CComBSTR(L"ReadOnly"), &value), S_FALSE);
    EXPECT_EQ(value.vt, VT_NULL);
    EXPECT_EQ(Markup(root.Get()),
              L"<BiosConfig><Setting Menu.0=\"-1\" Type=\"say &quot;x&quot; &amp; 'y'\"><Name>Fan &amp; "
              L"&lt;CPU&gt; \u00e9</Name>ab</Setting></BiosConfig>");

    // A Windows path lands on the emulated drive; the file is UTF-8 and xmllint accepts it.
    ASSERT_EQ(doc_->save(CComVariant(L"C:\\config.xml")), S_OK);
    std::filesystem::path saved = root_ / "drive_c" / "config.xml";
    std::string bytes = Contents(saved);
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BiosConfig>", 0), 0u) << bytes;
    EXPECT_NE(bytes.find("<Name>Fan &amp; &lt;CPU&gt; \xc3\xa9</Name>"), std::string::npos) << bytes;
    pid_t lint = StartChild({"/usr/bin/xmllint", "--noout", saved.string()}, root_ / "lint.out", root_ / "lint.err");
    EXPECT_EQ(WaitChild(lint, std::chrono::seconds(30)), 0) << Contents(root_ / "lint.err");
}

TEST_F(DomDocumentTest, RefusesWhatXmlCannotHold) {
    IXMLDOMElement* element = reinterpret_cast<IXMLDOMElement*>(1);
    EXPECT_EQ(doc_->createElement(CComBSTR(L"1st"), &element), E_FAIL);
    EXPECT_EQ(element, nullptr);
    EXPECT_EQ(doc_->createElement(CComBSTR(L""), &element), E_FAIL);
    IXMLDOMText* text = nullptr;
    EXPECT_EQ(doc_->createTextNode(CComBSTR(L"bell \x07"), &text), E_INVALIDARG);
    EXPECT_EQ(text, nullptr);

    ComPtr<IXMLDOMElement> root, child, other_root;
    ComPtr<IXMLDOMText> words;
    root = Element(L"Root");
    child = Element(L"Child");
    words = TextNode(L"words");
    EXPECT_EQ(child->setAttribute(CComBSTR(L"bad name"), Number(1)), E_FAIL);
    EXPECT_EQ(child->setAttribute(CComBSTR(L"Value"), CComVariant(L"\x01")), E_INVALIDARG);

    EXPECT_EQ(root->appendChild(nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(doc_->appendChild(words.Get(), nullptr), E_FAIL);   // a document holds elements only
    EXPECT_EQ(words->appendChild(child.Get(), nullptr), E_FAIL);  // a text holds nothing
    ASSERT_EQ(root->appendChild(child.Get(), nullptr), S_OK);
    EXPECT_EQ(child->appendChild(root.Get(), nullptr), E_FAIL);  // its own ancestor
    EXPECT_EQ(child->appendChild(child.Get(), nullptr), E_FAIL);
    ASSERT_EQ(doc_->appendChild(root.Get(), nullptr), S_OK);
    other_root = Element(L"Second");
    EXPECT_EQ(doc_->appendChild(other_root.Get(), nullptr), E_FAIL);  // one root element

    ComPtr<IXMLDOMDocument> other;
    ASSERT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                               reinterpret_cast<void**>(other.GetAddressOf())),
              S_OK);
    ComPtr<IXMLDOMElement> foreign;
    ASSERT_EQ(other->createElement(CComBSTR(L"Foreign"), foreign.GetAddressOf()), S_OK);
    EXPECT_EQ(root->appendChild(foreign.Get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(Markup(doc_.Get()), L"<Root><Child/></Root>\n");

    // Saving: a folder is not a file, and an empty document has nothing to save.
    EXPECT_TRUE(FAILED(doc_->save(CComVariant(qv::win::FromUtf8(root_.string()).c_str()))));
    EXPECT_EQ(other->save(CComVariant(qv::win::FromUtf8((root_ / "empty.xml").string()).c_str())), E_FAIL);
    EXPECT_FALSE(std::filesystem::exists(root_ / "empty.xml"));
    EXPECT_EQ(doc_->save(Number(3)), E_INVALIDARG);
}

// A node object keeps working after the objects of its parents are gone; nodes never appended are freed with
// the document (the sanitizer build sees a leak or a use after free).
TEST_F(DomDocumentTest, NodeObjectsOutliveTheirParentsObjects) {
    ComPtr<IXMLDOMText> kept;
    {
        ComPtr<IXMLDOMElement> parent, dropped;
        parent = Element(L"Parent");
        dropped = Element(L"NeverAppended");
        kept = TextNode(L"kept");
        ASSERT_EQ(parent->appendChild(kept.Get(), nullptr), S_OK);
    }
    EXPECT_EQ(Markup(kept.Get()), L"kept");
    doc_.Reset();  // the text's object still holds the document
    CComBSTR data;
    ASSERT_EQ(kept->get_data(&data), S_OK);
    EXPECT_STREQ(data, L"kept");
}

}  // namespace
