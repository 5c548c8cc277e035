#include <gtest/gtest.h>
#include <shobjidl.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "app_state.hpp"
#include "file_selection.hpp"
#include "window_fixture.hpp"

using namespace vornakite::app;
using apptest::listEntries;
using apptest::logLines;
using apptest::MainWindowTest;
using apptest::textOf;

namespace {

// IUnknown for a fake COM object of one interface; `refs` counts the references
// handed out, so a leak or a double release shows.
template <class Interface, const IID& kInterfaceId>
class FakeUnknown : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == kInterfaceId) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }

    ULONG refs = 1;
};

// A shell item with a file-system path, or one without (GetDisplayName fails).
class FakeItem : public FakeUnknown<IShellItem, IID_IShellItem> {
  public:
    explicit FakeItem(std::optional<std::wstring> path) : path_(std::move(path)) {}

    HRESULT STDMETHODCALLTYPE BindToHandler(IBindCtx*, REFGUID, REFIID, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetParent(IShellItem**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDisplayName(SIGDN form, LPWSTR* name) override {
        *name = nullptr;
        if (form != SIGDN_FILESYSPATH || !path_) {
            return E_INVALIDARG;
        }
        const size_t bytes = (path_->size() + 1) * sizeof(wchar_t);
        *name = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        memcpy(*name, path_->c_str(), bytes);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAttributes(SFGAOF, SFGAOF*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Compare(IShellItem*, SICHINTF, int*) override { return E_NOTIMPL; }

  private:
    std::optional<std::wstring> path_;
};

// The dialog's result array; a null entry stands for an item that cannot be fetched.
class FakeItemArray : public FakeUnknown<IShellItemArray, IID_IShellItemArray> {
  public:
    explicit FakeItemArray(std::vector<FakeItem*> items, bool countFails = false)
        : items_(std::move(items)), countFails_(countFails) {}

    HRESULT STDMETHODCALLTYPE BindToHandler(IBindCtx*, REFGUID, REFIID, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetAttributes(SIATTRIBFLAGS, SFGAOF, SFGAOF*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD* number) override {
        if (countFails_) {
            return E_FAIL;
        }
        *number = static_cast<DWORD>(items_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetItemAt(DWORD index, IShellItem** item) override {
        *item = index < items_.size() ? items_[index] : nullptr;
        if (*item == nullptr) {
            return E_FAIL;
        }
        (*item)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumItems(IEnumShellItems**) override { return E_NOTIMPL; }

  private:
    std::vector<FakeItem*> items_;
    bool countFails_;
};

// Hands the array over as the dialog would: with one reference for the caller.
void confirm(FakeItemArray& results) {
    results.AddRef();
    takeSelection(ComPtr<IShellItemArray>::adopt(&results));
}

}  // namespace

TEST_F(MainWindowTest, ASelectionStoresFullPathsListsFileNamesAndSkipsItemsWithoutAPath) {
    FakeItem first(L"C:\\Ernte 2026\\2026-10-01.Vornakite");
    FakeItem virtualItem(std::nullopt);  // e.g. a library entry, not a file
    FakeItem network(L"\\\\farmserver\\logs\\east.csv");
    FakeItem sameName(L"D:\\backup\\2026-10-01.Vornakite");
    FakeItemArray results({&first, nullptr, &virtualItem, &network, &sameName});

    confirm(results);

    EXPECT_EQ(selectedPaths, (std::vector<std::wstring>{L"C:\\Ernte 2026\\2026-10-01.Vornakite",
                                                        L"\\\\farmserver\\logs\\east.csv",
                                                        L"D:\\backup\\2026-10-01.Vornakite"}));
    EXPECT_EQ(listEntries(), (std::vector<std::wstring>{L"2026-10-01.Vornakite", L"east.csv",
                                                        L"2026-10-01.Vornakite"}));
    EXPECT_EQ(logLines(), (std::vector<std::wstring>{L"Selected 3 file(s)"}));
    EXPECT_EQ(textOf(hwndStatus), L"");
    // Every reference taken is given back; the caller keeps its own.
    for (FakeItem* item : {&first, &virtualItem, &network, &sameName}) {
        EXPECT_EQ(item->refs, 1u);
    }
    EXPECT_EQ(results.refs, 1u);
}

TEST_F(MainWindowTest, EachConfirmedSelectionReplacesTheLastAndAddsALogLine) {
    FakeItem a(L"C:\\a.Vornakite"), b(L"C:\\b.txt"), c(L"C:\\c.Vornakite");
    FakeItemArray three({&a, &b, &c});
    FakeItemArray one({&b});
    FakeItemArray none({});

    confirm(three);
    confirm(one);
    EXPECT_EQ(selectedPaths, (std::vector<std::wstring>{L"C:\\b.txt"}));
    EXPECT_EQ(listEntries(), (std::vector<std::wstring>{L"b.txt"}));
    confirm(none);
    EXPECT_TRUE(selectedPaths.empty());
    EXPECT_TRUE(listEntries().empty());
    EXPECT_EQ(logLines(), (std::vector<std::wstring>{L"Selected 3 file(s)", L"Selected 1 file(s)",
                                                     L"Selected 0 file(s)"}));
}

TEST_F(MainWindowTest, ACountThatCannotBeReadClearsTheSelection) {
    FakeItem a(L"C:\\a.Vornakite");
    FakeItemArray before({&a});
    FakeItemArray broken({&a}, /*countFails=*/true);
    confirm(before);
    confirm(broken);
    EXPECT_TRUE(selectedPaths.empty());
    EXPECT_TRUE(listEntries().empty());
    EXPECT_EQ(logLines().back(), L"Selected 0 file(s)");
    EXPECT_EQ(a.refs, 1u);
}
