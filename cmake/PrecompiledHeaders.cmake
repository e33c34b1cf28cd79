# Precompiled headers. Qt's and GoogleTest's headers are most of what each file compiles, so
# a few targets precompile them once per build tree and every other target reuses theirs.
# A reused header must have been compiled with the same flags and defines: our strict-text
# code cannot share one with the tests, nor Widgets code with QtCore-only code.
option(PELLMAR_PCH "Precompile the Qt and GoogleTest headers" ON)
set(PELLMAR_PCH_CORE <algorithm> <functional> <memory> <optional> <string> <vector>
    <QByteArray> <QCoreApplication> <QDir> <QFile> <QFileInfo> <QHash> <QList> <QObject>
    <QPointer> <QSaveFile> <QSet> <QString> <QStringList> <QTimer> <QAbstractItemModel>
    <QItemSelectionModel>)
set(PELLMAR_PCH_WIDGETS <QApplication> <QCheckBox> <QComboBox> <QDialog> <QHBoxLayout>
    <QImage> <QLabel> <QLineEdit> <QMouseEvent> <QPainter> <QPushButton> <QTreeView>
    <QVBoxLayout> <QWidget>)
# pellmar_add_pch(NAME HEADERS... LIBS ...): a target that only precompiles HEADERS with
# the flags that LIBS give.
function(pellmar_add_pch name)
    cmake_parse_arguments(P "" "" "HEADERS;LIBS" ${ARGN})
    if(PELLMAR_PCH)
        add_library(${name} OBJECT ${CMAKE_SOURCE_DIR}/cmake/Precompiled.cpp)
        target_link_libraries(${name} PRIVATE ${P_LIBS})
        target_precompile_headers(${name} PRIVATE ${P_HEADERS})
    endif()
endfunction()
# pellmar_use_pch(TARGET PCH_TARGET)
function(pellmar_use_pch target pch)
    if(TARGET ${pch})
        set_target_properties(${target} PROPERTIES PRECOMPILE_HEADERS_REUSE_FROM ${pch})
    endif()
endfunction()
pellmar_add_pch(pellmar_pch_logic HEADERS ${PELLMAR_PCH_CORE}
    LIBS pellmar_options pellmar_strict_text Qt6::Core)
if(PELLMAR_GUI)
    pellmar_add_pch(pellmar_pch_widgets HEADERS ${PELLMAR_PCH_CORE} ${PELLMAR_PCH_WIDGETS}
        LIBS pellmar_options pellmar_strict_text Qt6::Widgets)
endif()
