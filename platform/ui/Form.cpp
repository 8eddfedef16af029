// platform/ui/Form.cpp: control lookup and height changes of a form description.
#include "platform/ui/Form.h"

#include <stdexcept>

namespace plat::ui {

Control& Form::Find(std::string_view name) {
    for (auto& c : controls)
        if (c.name == name) return c;
    throw std::out_of_range("form " + className + " has no control " + std::string(name));
}

const Control& Form::Find(std::string_view name) const {
    return const_cast<Form*>(this)->Find(name);
}

void Form::SetHeight(int newHeight) {
    const int delta = newHeight - height;
    height = newHeight;
    for (auto& c : controls) {
        if (c.fillsForm) {
            c.left = 0;
            c.top = 0;
            c.width = width;
            c.height = height;
        } else if (c.anchorBottom) {
            c.top += delta;
        }
    }
}

}  // namespace plat::ui
