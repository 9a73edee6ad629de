#include "tests/support/form_fixture.h"

#include <QTest>

namespace velmora::testing {

void FormFixture::setUp() {
    m_collection = std::make_unique<QTemporaryDir>();
    QVERIFY(m_collection->isValid());
    m_services = std::make_unique<AnsweringServices>(m_collection->path());
    m_dialog = std::make_unique<AnsweringFileDialog>();
}

void FormFixture::tearDown() {
    m_form.reset();
    m_dialog.reset();
    m_services.reset();
    m_collection.reset();
}

void FormFixture::makeForm(AddAction add) {
    m_form = std::make_unique<FormAdd>(FormSeams{m_services.get(), m_dialog.get(), std::move(add)});
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

} // namespace velmora::testing
