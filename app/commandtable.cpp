// Folivo — multi-page TIFF editor.
#include "app/commandtable.h"

namespace folivo {

namespace {

constexpr TToolButtonDef kMainTools[] = {
    {"sbBrowse", "浏览", "打开多页TIF图像文件", "sbBrowseClick", 0, false},
    {"sbOpenFile", "打开", "打开多页TIF图像文件", "mnOpenFileClick", 0, false},
    {"sbSaveAs", "另存", "所有页面打包成一个TIF文件输出", "sbSaveAsClick", 0, false},
    {"sbAcquire", "扫描", "从扫描仪进行扫描", "mnAcquireClick", 0, false},
    {"sbPrint", "打印", "打印输出", "mnPrintAllPageClick", 0, false},
    {"sbExportPage", "导出", "把每个页面导出成一个独立图像文件", "sbExportPageClick", 0, false},
    {"sbRotateDropDown", "旋转", "旋转和翻转图像", "sbRotateDropDownClick", 0, false},
    {"sbResize", "缩放", "自动调整图像的长宽大小", "sbResizeClick", 0, false},
    {"sbNegative", "反色", "黑白反色", "sbRotate1Click", 6, false},
    {"sbCorrect", "倾斜", "自动识别和校正图像的倾斜角度", "sbCorrectClick", 0, false},
    {"sbAE", "自动对比", "自动调节图像的对比度", "sbRotate1Click", 7, false},
    {"sbLevel", "色阶", "调整图像的色阶", "sbLevelClick", 0, false},
};

constexpr TToolButtonDef kListTop[] = {
    {"sbSelectAll", "全选", "选择所有页面", "sbSelectAllClick", 0, false},
    {"sbInvertSelect", "反选", "页面反选", "sbInvertSelectClick", 0, false},
};

constexpr TToolButtonDef kListBottom[] = {
    {"sbMoveUp", "", "向上移", "sbMoveUpClick", 0, false},
    {"sbMoveDown", "", "向下移", "sbMoveDownClick", 0, false},
    {"SpeedButton8", "新增", "当前位置插入新页面新图像", "sbAddFilesClick", 0, false},
    {"sbDelete", "", "移除选择的页面", "sbDeleteClick", 0, false},
    {"sbEmptyAll", "", "清空所有页面", "sbEmptyAllClick", 0, false},
};

constexpr TToolButtonDef kViewTools[] = {
    {"sbZoomIn", "", "放大查看", "sbZoomInClick", 1, false},
    {"SpeedButton4", "", "缩小查看", "sbZoomInClick", 2, false},
    {"sbZoomToBest", "", "缩放到满屏查看", "sbZoomInClick", 3, false},
    {"sbZoomTo100", "", "100%大小查看", "sbZoomTo100Click", 0, false},
    {"sbNavigator", "", "图像导航，当显示大图时可实现快速定位", "sbNavigatorClick", 0, false},
    {"sbCropPage", "裁剪", "选定内容，双击完成裁剪", "sbCropPageClick", 0, true},
    {"SpeedButton1", "模糊", "对选择的区域进行模糊处理，若未选择区域则全图模糊", "SpeedButton1Click", 0, false},
    {"sbUndo", "", "撤消", "sbUndoClick", 0, false},
    {"sbRedo", "", "重做", "sbRedoClick", 0, false},
    {"sbPrevPage", "上一页", "", "sbPrevPageClick", 0, false},
    {"sbNextPage", "下一页", "", "sbNextPageClick", 0, false},
};

using R = TMenuRow;
constexpr TMenuDef kMainMenu[] = {
    {R::Menu, "mnFile", "文件(&F)", "", "", 0},
    {R::Entry, "mnOpenFile", "打开(&O)...", "Ctrl+O", "mnOpenFileClick", 0},
    {R::Entry, "mnSaveAs", "另存(&S)...", "Ctrl+S", "sbSaveAsClick", 0},
    {R::Separator, "", "", "", "", 0},
    {R::Submenu, "mnRecentFiles", "最近打开的文件(&R)...", "", "", 0},
    {R::EndSubmenu, "", "", "", "", 0},
    {R::Submenu, "mnFavourites", "我的收藏夹(&M)", "", "", 0},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "mnOrganizeFavourites", "整理收藏夹(&C)...", "", "mnOrganizeFavouritesClick", 0},
    {R::Entry, "mnAddFavourite", "收藏当前文件夹(&T)...", "", "mnAddFavouriteClick", 0},
    {R::EndSubmenu, "", "", "", "", 0},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "mnBrowse", "浏览...(&B)", "", "sbBrowseClick", 0},
    {R::Entry, "mnOpenAgain", "重新打开...(&T)", "", "mnOpenAgainClick", 0},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "mnAcquire", "扫描(&A)...", "", "mnAcquireClick", 0},
    {R::Submenu, "mnExport", "导出分页(&E)", "", "", 0},
    {R::Entry, "mnExportSelected", "导出选定的页面(&S)...", "", "sbExportPageClick", 0},
    {R::Entry, "mnExportAll", "导出全部页面(&A)...", "", "mnExportAllClick", 0},
    {R::EndSubmenu, "", "", "", "", 0},
    {R::Submenu, "mnPrint", "打印(&P)", "", "", 0},
    {R::Entry, "mnPrintCurrentPage", "打印当前页面(&C)...", "", "mnPrintCurrentPageClick", 0},
    {R::Entry, "mnPrintAllPage", "打印全部页面(&A)...", "", "mnPrintAllPageClick", 0},
    {R::EndSubmenu, "", "", "", "", 0},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "mnQuit", "退出(&Q)", "", "mnQuitClick", 0},

    {R::Menu, "mnEdit", "编辑(&E)", "", "", 0},
    {R::Entry, "mnUndo", "撤消(&U)", "Ctrl+Z", "sbUndoClick", 0},
    {R::Entry, "mnRedo", "重做(&R)", "Ctrl+Y", "sbRedoClick", 0},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "mnCopyImage", "复制页面图像(&C)", "Ctrl+C", "mnCopyImageClick", 0},
    {R::Entry, "mnPasteImage", "粘贴为新页面(&N)", "Ctrl+V", "mnPasteImageClick", 0},

    {R::Menu, "mnPage", "页面(&P)", "", "", 0},
    {R::Entry, "mnSelectAll", "全选", "Ctrl+A", "sbSelectAllClick", 0},
    {R::Entry, "mnInvertSelect", "反选", "Ctrl+I", "sbInvertSelectClick", 0},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "mnAddFiles", "当前位置插入新页面...", "", "sbAddFilesClick", 0},
    {R::Entry, "mnDelete", "移除选中页面", "", "sbDeleteClick", 0},
    {R::Entry, "mnEmptyAll", "清空所有页面", "", "sbEmptyAllClick", 0},

    {R::Menu, "mnImage", "图像(&G)", "", "", 0},
    {R::Submenu, "mnRotateFlip", "旋转和翻转(&R)", "", "", 0},
    {R::Entry, "mnRotateLeft", "左转90度(&A)", "", "sbRotate1Click", 1},
    {R::Entry, "mnRotateRight", "右转90度(&C)", "", "sbRotate1Click", 3},
    {R::Entry, "mnRotate180", "转动180度(&B)", "", "sbRotate1Click", 2},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "mnFlipVertical", "垂直翻转(&V)", "", "sbRotate1Click", 4},
    {R::Entry, "mnFlipHorizontal", "水平翻转(&H)", "", "sbRotate1Click", 5},
    {R::EndSubmenu, "", "", "", "", 0},
    {R::Submenu, "mnScanProcess", "扫描图像处理(&S)", "", "", 0},
    {R::Entry, "mnCorrect", "倾斜校正(&O)...", "", "sbCorrectClick", 0},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "mnCropBorders", "裁边(&C)", "", "sbRotate1Click", 9},
    {R::Entry, "mnWhiteBalance", "白纸底色校正(&W)", "", "sbRotate1Click", 10},
    {R::Entry, "mnConvertToBW", "转为黑白图(&B)", "", "sbRotate1Click", 11},
    {R::Entry, "mnConvertToGray", "转为灰阶色(&G)", "", "sbRotate1Click", 12},
    {R::EndSubmenu, "", "", "", "", 0},
    {R::Submenu, "mnTone", "明暗调整(&B)", "", "", 0},
    {R::Entry, "mnAutoContrast", "自动对比度(&E)", "", "sbRotate1Click", 7},
    {R::Entry, "mnLevel", "色阶调整(&L)...", "", "sbLevelClick", 0},
    {R::Entry, "mnBrightContrast", "亮度/对比度/Gamma调整(&B)...", "", "mnBrightContrastClick", 0},
    {R::EndSubmenu, "", "", "", "", 0},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "mnNegative", "反色(&I)", "", "sbRotate1Click", 6},
    {R::Entry, "mnSharpen", "锐化(&S)", "", "sbRotate1Click", 8},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "mnResize", "缩放(&R)...", "", "sbResizeClick", 0},

    {R::Menu, "mnTools", "工具(&T)", "", "", 0},
    {R::Entry, "mnQuickCountPage", "快速统计和拆分TIF页面(&T)", "F3", "mnQuickCountPageClick", 0},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "mnOption", "选项(&O)...", "", "mnOptionClick", 0},

    {R::Menu, "mnHelp", "帮助(&H)", "", "", 0},
    {R::Entry, "mnHomePage", "访问主页(&P)...", "", "mnHomePageClick", 0},
    {R::Entry, "mnFeedback", "意见反馈(&G)...", "", "mnHomePageClick", 0},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "U1", "最近更新(&U)...", "", "U1Click", 0},
    {R::Entry, "mnCheckUpdate", "在线检查新版本(&C)", "", "mnCheckUpdateClick", 0},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "mnAbout", "关于(&A)...", "", "mnAboutClick", 0},
};

constexpr TMenuDef kRotatePopup[] = {
    {R::Entry, "pmRotateLeft", "左转90度(&A)", "", "sbRotate1Click", 1},
    {R::Entry, "pmRotateRight", "右转90度(&C)", "", "sbRotate1Click", 3},
    {R::Entry, "pmRotate180", "转动180度(&B)", "", "sbRotate1Click", 2},
    {R::Separator, "", "", "", "", 0},
    {R::Entry, "pmFlipVertical", "垂直翻转(&V)", "", "sbRotate1Click", 4},
    {R::Entry, "pmFlipHorizontal", "水平翻转(&H)", "", "sbRotate1Click", 5},
};

constexpr TMenuDef kBlurPopup[] = {
    {R::Entry, "mnBlur1", "轻度模糊(&1)", "", "mnBlur1Click", 1},
    {R::Entry, "mnBlur2", "中度模糊(&2)", "", "mnBlur1Click", 2},
    {R::Entry, "mnBlur3", "重度模糊(&3)", "", "mnBlur1Click", 3},
};

}  // namespace

std::span<const TToolButtonDef> MainToolButtons() { return kMainTools; }
std::span<const TToolButtonDef> PageListTopButtons() { return kListTop; }
std::span<const TToolButtonDef> PageListBottomButtons() { return kListBottom; }
std::span<const TToolButtonDef> ViewToolButtons() { return kViewTools; }
std::span<const TMenuDef> MainMenu() { return kMainMenu; }
std::span<const TMenuDef> RotatePopupMenu() { return kRotatePopup; }
std::span<const TMenuDef> BlurPopupMenu() { return kBlurPopup; }

}  // namespace folivo
