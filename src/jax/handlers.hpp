// The XLA FFI handlers of lumevaro.jax (handlers.cpp), as C symbols that
// XLA calls through their addresses.
#pragma once

#include "xla/ffi/api/c_api.h"

extern "C" {
XLA_FFI_Error* LumevaroLightCurve(XLA_FFI_CallFrame* call_frame);
XLA_FFI_Error* LumevaroLightCurveJacobian(XLA_FFI_CallFrame* call_frame);
XLA_FFI_Error* LumevaroMagnification(XLA_FFI_CallFrame* call_frame);
XLA_FFI_Error* LumevaroMagnificationGradient(XLA_FFI_CallFrame* call_frame);
}
