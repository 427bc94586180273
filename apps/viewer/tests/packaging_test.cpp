#include "layoutfile.h"

#include <gtest/gtest.h>

// The example layout installed with the documentation must stay a layout the viewer accepts.
TEST(LayoutFile, InstalledExampleLoads)
{
    ViewerLayout layout;
    QString error;
    ASSERT_TRUE(LayoutFile::load(QStringLiteral(ORVIK_VIEWER_EXAMPLE_LAYOUT), &layout, &error)) << qPrintable(error);
    EXPECT_EQ(layout.pages.size(), 2);
}
