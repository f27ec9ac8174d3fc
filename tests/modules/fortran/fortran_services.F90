! Exposes the Fortran names of the services to tests. The first input chooses what to do:
!   1  [nlhs*100 + nrhs] as the gateway received the counts
!   2  [printed] = orbprintf of a line whose "%%" prints one percent sign
!   3  [status, untouched] = orbcallveltra(0, list, 1, x, 'double'): untouched is 1 when the
!      list given with no outputs asked for was left alone
!   4  [n] = numel(x) through orbcallveltra with one output and a blank-padded function name
!   5  [value] = orbgetvariable('BASE', 'MixedCase') (empty when there is none)
!   6  raises "fortran:percent" with a message full of percent signs
!   7  [name] = orbfunctionname()
!   8  [status] = orbevalstring of an assignment in the caller workspace
!   9  [status] = orbputvariable('Base', 'fromFortran', x)
!  10  warns "fortran:warned" and answers [1]
!  11  [status] = orbatexit of a subroutine that prints a farewell when the module is cleared
subroutine orbfunction(nlhs, plhs, nrhs, prhs)
  use, intrinsic :: iso_c_binding, only: c_null_char
  implicit none
#include "orb.fi"
  integer(ORB_COUNT_KIND), intent(in) :: nlhs, nrhs
  integer(8) :: plhs(*), prhs(*)
  integer(8) :: list(2), value
  integer(4) :: status, op
  character(len=20) :: padded
  character(len=64) :: name
  interface
    subroutine fortran_farewell()
    end subroutine fortran_farewell
  end interface

  op = int(rygetscalar(prhs(1)), 4)
  select case (op)
  case (1)
    plhs(1) = rycreatedoublescalar(dble(nlhs) * 100d0 + dble(nrhs))
  case (2)
    status = orbprintf('Fortran prints 100%% of this line' // achar(10))
    plhs(1) = rycreatedoublescalar(dble(status))
  case (3)
    list = 0
    status = orbcallveltra(0, list, 1, prhs(2:2), 'double')
    plhs(1) = rycreatedoublescalar(dble(status))
    plhs(2) = rycreatedoublescalar(merge(1d0, 0d0, list(1) == 0))
  case (4)
    padded = 'numel'
    list = 0
    status = orbcallveltra(1, list, 1, prhs(2:2), padded)
    plhs(1) = list(1)
  case (5)
    value = orbgetvariable('BASE', 'MixedCase')
    if (value == 0) value = rycreatedoublematrix(int(0, ORB_COUNT_KIND), int(0, ORB_COUNT_KIND), ryREAL)
    plhs(1) = value
  case (6)
    call orberrmsgidandtxt('fortran:percent', '100% sure: %d %s %% stay as written')
  case (7)
    name = orbfunctionname()
    plhs(1) = rycreatestring(trim(name) // c_null_char)
  case (8)
    status = orbevalstring('fromEval = 7;')
    plhs(1) = rycreatedoublescalar(dble(status))
  case (9)
    status = orbputvariable('Base', 'fromFortran', prhs(2))
    plhs(1) = rycreatedoublescalar(dble(status))
  case (10)
    call orbwarnmsgidandtxt('fortran:warned', 'careful: 5% left')
    plhs(1) = rycreatedoublescalar(1d0)
  case (11)
    status = orbatexit(fortran_farewell)
    plhs(1) = rycreatedoublescalar(dble(status))
  case default
    call orberrmsgidandtxt('fortran:op', 'unknown operation')
  end select
end subroutine orbfunction

subroutine fortran_farewell()
  implicit none
#include "orb.fi"
  integer(4) :: printed
  printed = orbprintf('Fortran says farewell' // achar(10))
end subroutine fortran_farewell

#include "orb_version.fi"
