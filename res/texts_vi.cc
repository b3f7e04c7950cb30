// Vietnamese texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_vi = {
    11,
    "vi",
    {{
        {"IDS_WIZARD_BACK", "< Quay lại"},
        {"IDS_WIZARD_NEXT", "Tiếp theo >"},
        {"IDS_WIZARD_FINISH", "Đồng ý"},
        {"IDS_WIZARD_CANCEL", "Hủy bỏ"},
        {"IDS_ACCEPT_CANCEL", "Bạn có thực sự muốn huỷ bỏ việc cài đặt?"},
        {"IDS_TITLE_INSTALLER", "Cài đặt cấu hình"},
        {"IDS_PREPARECOPY", "Chuẩn bị để sao chép..."},
        {"IDS_INSTALL_ERROR", "Lỗi khi cài đặt"},
        {"IDS_ERROR_NOSOURCE", "Không tìm thấy tệp của bộ cài đặt qorv.vkt."},
        {"IDS_ERROR_NOTARGET", "Không hỗ trợ việc cài đặt vào thư mục khuôn mẫu hiện tại."},
        {"IDS_ERROR_NOSPACE", "Không đủ chỗ trong thư mục Temp."},
        {"IDS_CHOOSEDIR_FOLDER", "&Thư mục:"},
        {"IDS_CHOOSEDIR_TITLE", "Chọn thư mục"},
        {"IDR_MAINFRAME", "Cài đặt cấu hình"},
        {"IDS_SETUP_EMPTYTARGET", "Hãy chỉ ra đường dẫn chính xác đến thư mục các khuôn mẫu."},
        {"IDS_INSTALL_FINISH", "Kết thúc việc sao chép..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "Tệp của bộ cài đặt qorv.vkt bị hỏng hoặc được dành để cho chương trình cài đặt này."},
        {"IDS_DEFPRODUCT", "<Sản phẩm>"},
        {"IDS_DEFPROVIDER", "<Nhà cung cấp>"},
        {"IDS_SUCCESS_FINISH", "Cấu hình đã được cài đặt thành công."},
        {"IDS_SUCCESS_OPENDESCR", "Mở bản mô tả bộ cài đặt chính"},
        {"IDS_PROGRESS_START", "Đang tiến hành sao chép các tệp..."},
        {"IDS_ERROR_FINISH", "Xảy ra lỗi trong quá trình cài đặt. Việc cài đặt đã bị ngừng lại. Thư mục các khuôn mẫu không thay đổi."},
        {"IDS_CANCEL_FINISH", "Hủy bỏ việc cài đặt. Thư mục khuôn mẫu không thay đổi."},
        {"IDS_BROWSE_SELDIR", "Thư mục được chọn:"},
        {"IDS_BROWSE_OK", "Chọn"},
        {"IDS_BROWSE_CANCEL", "Hủy bỏ"},
        {"IDS_WELCOME_TITLE", "Chào mừng Bạn đến với chương trình cài đặt sản phẩm"},
        {"IDS_SETUP_EXISTEDTARGET", "Thư mục cài đặt có chứa các tệp mà có thể bị thay đổi trong quá trình cài đặt. Tiếp tục việc cài đặt?"},
        {"IDS_DESTINATION_PROMPT", "Hãy chỉ ra đường dẫn tới thư mục các khuôn mẫu. Chương trình cài đặt sẽ đặt các khuôn mẫu và tệp cấu hình vào thư mục được chỉ ra."},
        {"IDS_TEMPLATE_CATALOG", "Thư mục các khuôn mẫu:"},
        {"IDS_ROLLBACK_INCOMPLETE", "Việc cài đặt đã dừng, nhưng không thể đặt lại các tệp sau. Phiên bản trước của chúng được giữ lại, và lần khởi chạy tiếp theo của trình cài đặt sẽ đặt lại chúng:"},
        {"IDS_WAITING_FOR_TARGET", "Một quá trình cài đặt khác vào thư mục này đang chạy. Đang chờ nó kết thúc..."},
        {"IDS_TARGET_BUSY", "Một quá trình cài đặt khác vào thư mục này vẫn đang chạy. Thư mục khuôn mẫu không thay đổi."},
        {"IDS_NO_TERMINAL", "Không có màn hình và không có thiết bị đầu cuối ở đầu vào để hỏi nơi cài đặt; hãy chạy với -S để cài đặt mà không hỏi (vào -D<dir> hoặc thư mục được đề xuất)."},
        {"IDS_LOCATION_NOT_RECORDED", "Không thể cập nhật danh sách vị trí mẫu của trình khởi chạy."},
        {"IDS_RECOVERY_INCOMPLETE", "Không thể hoàn tác hoàn toàn một lần cài đặt bị gián đoạn; bản sao lưu của nó vẫn nằm trong"},
        {"IDS_ANSWER_YES_NO", "[c/K]"},
        {"IDS_YES_LETTERS", "yYcC"},
        {"IDS_ERROR_UNTRUSTED", "Tệp bộ cài đặt qorv.vkt không được ký bằng khóa mà chương trình cài đặt này tin cậy."},
        {"IDS_KIT_UNCHECKED", "Tệp bộ cài đặt qorv.vkt không có tổng kiểm tra: không thể phát hiện hư hỏng của nó."},
        {"IDS_KIT_SIGNED", "Bộ cài đặt được ký bằng khóa"},
        {"IDS_NOTHING_TO_DO", "Không có gì để làm: các mẫu đã được cập nhật."},
        {"IDS_KEPT_CHANGED", "Được giữ lại vì đã thay đổi sau khi cài đặt:"},
        {"IDS_UNINSTALL_CONFIRM", "Gỡ bỏ các mẫu đã cài đặt trong thư mục này?"},
        {"IDS_UNINSTALL_FINISH", "Các mẫu đã được gỡ bỏ."},
        {"IDS_NOTHING_INSTALLED", "Không có bản cài đặt nào được ghi nhận cho thư mục này."},
        {"IDS_UNINSTALL_ERROR", "Không thể gỡ bỏ các mẫu. Thư mục mẫu không bị thay đổi."},
    }},
};
// clang-format on

}  // namespace qorv::res
